' expect: a loop of capture calls with no Exit
Attribute VB_Name = "CaptureLoopWithoutExit"
Option Explicit
Public Sub Main()
    Dim hdr As PacketHeaderRecord
    Do
        If oxCaptureDiskSafe(hdr) < 0 Then Debug.Print OxErrorText()
    Loop
End Sub
