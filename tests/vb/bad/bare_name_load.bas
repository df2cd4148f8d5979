' expect: loads DLLs by bare name or changes the DLL search path
Attribute VB_Name = "BareNameLoad"
Option Explicit

#If VBA7 Then
Private Declare PtrSafe Function OxLoadLibrary Lib "kernel32" Alias "LoadLibraryA" (ByVal fileName As String) As LongPtr
#Else
Private Declare Function OxLoadLibrary Lib "kernel32" Alias "LoadLibraryA" (ByVal fileName As String) As Long
#End If
