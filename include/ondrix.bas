Attribute VB_Name = "Ondrix"
' ONDRIX: packet capture and packet sending for VB5, VB6 and VBA.
'
' Put ONDRIX.dll (and wpcap.dll) next to the program or on the PATH. Results
' are 0 for success and -1 for failure; the capture calls return 1 for a
' packet, 0 when the read time-out passed and -1 at the end of a saved file or
' on failure. After a failure OxErrorText() says why.
'
' The fixed text fields of the records are Byte arrays, so VB does not
' convert them; OxAdapterName and OxAdapterDescription turn them into Strings.
Option Explicit

' ---- records ----

' Filled by oxGetAdapterInfo: 516 bytes.
Public Type AdapterInfoRecord
    name(0 To 254) As Byte          ' ANSI, zero-terminated, at most 254 characters
    description(0 To 256) As Byte   ' ANSI, zero-terminated, empty when there is none
    reserved As Long                ' always 0
End Type

' Filled by the capture calls: six Longs, 24 bytes.
Public Type PacketHeaderRecord
    capturedLength As Long   ' bytes of the packet delivered
    wireLength As Long       ' length of the packet on the wire
    hour As Long             ' local time of the packet
    minute As Long
    second As Long
    microseconds As Long
End Type

' ---- oxSetParam codes ----
Public Const ParamSnapLength As Long = 0        ' 1 to 65536
Public Const ParamPromiscuous As Long = 1       ' 0 or 1
Public Const ParamDumpFileName As Long = 2      ' dump file, or the saved file to read
Public Const ParamKernelBufferSize As Long = 6  ' driver buffer bytes; 0 or less keeps the default
Public Const ParamCaptureMode As Long = 8       ' ModeDisk, ModeAlias or ModeCopy
Public Const ParamFilter As Long = 9            ' filter expression
Public Const ParamCaptureSource As Long = 10    ' SourceLive or SourceFile

' ---- delivery modes ----
Public Const ModeDisk As Long = 1      ' packets go to the dump file
Public Const ModeAlias As Long = 8     ' the array is pointed at the packet: fast, but never ReDim or Erase it
Public Const ModeCopy As Long = 100    ' the packet is copied into the array

' ---- sources ----
Public Const SourceLive As Long = 1001   ' the current adapter
Public Const SourceFile As Long = 1002   ' the saved file named by ParamDumpFileName

' ---- the 16 exports ----
#If VBA7 Then
Public Declare PtrSafe Function OndrixInit Lib "ONDRIX.dll" () As Long
Public Declare PtrSafe Function oxGetAdapterInfo Lib "ONDRIX.dll" (ByVal index As Long, ByRef info As AdapterInfoRecord) As Long
Public Declare PtrSafe Function OndrixTerminate Lib "ONDRIX.dll" () As Long
Public Declare PtrSafe Function oxSetCurrentAdapter Lib "ONDRIX.dll" (ByVal index As Long) As Long
Public Declare PtrSafe Function oxGetCurrentAdapter Lib "ONDRIX.dll" () As Long
Public Declare PtrSafe Function oxBegin Lib "ONDRIX.dll" (ByVal timeoutMs As Long) As Long
Public Declare PtrSafe Function oxEnd Lib "ONDRIX.dll" () As Long
Public Declare PtrSafe Function oxCaptureMem Lib "ONDRIX.dll" (ByRef packet() As Byte, ByRef header As PacketHeaderRecord) As Long
Public Declare PtrSafe Function oxCaptureMemSafe Lib "ONDRIX.dll" (ByRef packet() As Byte) As Long
Public Declare PtrSafe Function oxSetKernelBuffSize Lib "ONDRIX.dll" (ByVal bytes As Long) As Long
Public Declare PtrSafe Function oxGetErrorDescription Lib "ONDRIX.dll" () As String
Public Declare PtrSafe Function oxCaptureDiskSafe Lib "ONDRIX.dll" (ByRef header As PacketHeaderRecord) As Long
Public Declare PtrSafe Function oxSetParam Lib "ONDRIX.dll" (ByVal code As Long, ByRef value As Variant) As Long
Public Declare PtrSafe Function oxSendPacket Lib "ONDRIX.dll" (ByRef frame() As Byte) As Long
Public Declare PtrSafe Function oxCapture Lib "ONDRIX.dll" (ByRef packet() As Byte, ByRef header As PacketHeaderRecord) As Long
Public Declare PtrSafe Function oxGetAdapterInfoVB5 Lib "ONDRIX.dll" (ByVal index As Long, ByRef name As String, ByRef description As String) As Long
#Else
Public Declare Function OndrixInit Lib "ONDRIX.dll" () As Long
Public Declare Function oxGetAdapterInfo Lib "ONDRIX.dll" (ByVal index As Long, ByRef info As AdapterInfoRecord) As Long
Public Declare Function OndrixTerminate Lib "ONDRIX.dll" () As Long
Public Declare Function oxSetCurrentAdapter Lib "ONDRIX.dll" (ByVal index As Long) As Long
Public Declare Function oxGetCurrentAdapter Lib "ONDRIX.dll" () As Long
Public Declare Function oxBegin Lib "ONDRIX.dll" (ByVal timeoutMs As Long) As Long
Public Declare Function oxEnd Lib "ONDRIX.dll" () As Long
Public Declare Function oxCaptureMem Lib "ONDRIX.dll" (ByRef packet() As Byte, ByRef header As PacketHeaderRecord) As Long
Public Declare Function oxCaptureMemSafe Lib "ONDRIX.dll" (ByRef packet() As Byte) As Long
Public Declare Function oxSetKernelBuffSize Lib "ONDRIX.dll" (ByVal bytes As Long) As Long
Public Declare Function oxGetErrorDescription Lib "ONDRIX.dll" () As String
Public Declare Function oxCaptureDiskSafe Lib "ONDRIX.dll" (ByRef header As PacketHeaderRecord) As Long
Public Declare Function oxSetParam Lib "ONDRIX.dll" (ByVal code As Long, ByRef value As Variant) As Long
Public Declare Function oxSendPacket Lib "ONDRIX.dll" (ByRef frame() As Byte) As Long
Public Declare Function oxCapture Lib "ONDRIX.dll" (ByRef packet() As Byte, ByRef header As PacketHeaderRecord) As Long
Public Declare Function oxGetAdapterInfoVB5 Lib "ONDRIX.dll" (ByVal index As Long, ByRef name As String, ByRef description As String) As Long
#End If

' ---- helpers ----

' The text of the last failure.
Public Function OxErrorText() As String
    OxErrorText = oxGetErrorDescription()
End Function

' A zero-terminated ANSI Byte field as a String.
Private Function FieldText(field() As Byte) As String
    Dim i As Long, s As String
    For i = LBound(field) To UBound(field)
        If field(i) = 0 Then Exit For
    Next
    If i > LBound(field) Then
        s = StrConv(LeftB$(CStr(field), i - LBound(field)), vbUnicode)
    End If
    FieldText = s
End Function

' The adapter name of a record filled by oxGetAdapterInfo.
Public Function OxAdapterName(info As AdapterInfoRecord) As String
    OxAdapterName = FieldText(info.name)
End Function

' The adapter description of a record filled by oxGetAdapterInfo.
Public Function OxAdapterDescription(info As AdapterInfoRecord) As String
    OxAdapterDescription = FieldText(info.description)
End Function

' Sets a text parameter (file name or filter); returns 0 or -1.
Public Function OxSetText(ByVal code As Long, ByVal text As String) As Long
    Dim v As Variant
    v = text
    OxSetText = oxSetParam(code, v)
End Function

' Sets a numeric parameter; returns 0 or -1.
Public Function OxSetNumber(ByVal code As Long, ByVal number As Long) As Long
    Dim v As Variant
    v = number
    OxSetNumber = oxSetParam(code, v)
End Function

' The packet delivered by oxCaptureMem: its UBound is the packet's length.
Public Function OxPacketLength(packet() As Byte) As Long
    OxPacketLength = UBound(packet) - LBound(packet)
End Function
