' expect: undeclared ONDRIX name OxReleaseAll
Attribute VB_Name = "UndeclaredName"
Option Explicit

Public Sub Main()
    Dim pkt() As Byte
    OxReleaseAll pkt
End Sub
