' expect: End Sub closes the If of line 7
Attribute VB_Name = "MissingEndIf"
Option Explicit

Public Sub Main()
    If oxBegin(100) <> 0 Then MsgBox OxErrorText(): Exit Sub
    If oxEnd() = 0 Then
        If OndrixTerminate() <> 0 Then _
            MsgBox "not reached"
    Else
        MsgBox "End If"
End Sub
