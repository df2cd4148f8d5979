' expect: OxSetNumber (a, b) as a statement
Attribute VB_Name = "StatementCallParentheses"
Option Explicit

Public Sub Main()
    OxSetNumber (ParamSnapLength, 100)
End Sub
