' expect: undeclared ONDRIX name OxDescriptor
Attribute VB_Name = "PrivateHelper"
Option Explicit

Public Sub Main()
    Dim pkt() As Byte
    Debug.Print OxDescriptor(pkt)
End Sub
