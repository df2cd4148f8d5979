' expect: longptr where VB6 compiles
Attribute VB_Name = "LongPtrInVB6"
Option Explicit

Public Sub Main()
    Dim handle As LongPtr
    handle = 0
End Sub
