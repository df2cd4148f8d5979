' expect: LF line endings
Attribute VB_Name = "LfEndings"
Option Explicit

Public Sub Main()
    oxEnd
End Sub
