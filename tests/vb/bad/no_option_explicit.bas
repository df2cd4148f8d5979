' expect: missing Option Explicit
Attribute VB_Name = "NoOptionExplicit"

Public Sub Main()
    oxEnd
End Sub
