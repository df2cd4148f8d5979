' expect: Loop closes the For of line 7
Attribute VB_Name = "LoopClosesFor"
Option Explicit

Public Sub Main()
    Dim i As Long
    For i = 1 To 10
        oxEnd
    Loop
End Sub
