' expect: chooses the older search where ondrix.h does not
Attribute VB_Name = "OlderSearchInverted"
Option Explicit

Private Const LOAD_WITH_ALTERED_SEARCH_PATH As Long = &H8

Private Function SearchFlags() As Long
    If GetProcAddress(GetModuleHandleW(StrPtr("kernel32.dll")), "AddDllDirectory") <> 0 Then
        SearchFlags = LOAD_WITH_ALTERED_SEARCH_PATH
    Else
        SearchFlags = &H900
    End If
End Function
