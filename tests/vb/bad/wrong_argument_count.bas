' expect: oxCapture takes 2 argument(s), given 1
Attribute VB_Name = "WrongArgumentCount"
Option Explicit

Public Sub Main()
    Dim pkt() As Byte
    ReDim pkt(65535)
    If oxCapture(pkt) = 1 Then Debug.Print "packet"
End Sub
