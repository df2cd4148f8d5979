' expect: a Declare without PtrSafe where VBA7 compiles
Attribute VB_Name = "DeclareWithoutPtrSafe"
Option Explicit

Private Declare Function GetTickCount Lib "kernel32" () As Long
