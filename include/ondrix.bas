Attribute VB_Name = "Ondrix"
' ONDRIX: packet capture and packet sending for VB5, VB6 and VBA.
'
' Results are 0 for success and -1 for failure; the capture calls return 1
' for a packet, 0 when the read time-out passed and -1 at the end of a saved
' file or on failure. After a failure OxErrorText() says why.
'
' ---- loading: call OndrixLoad first ----
' Npcap puts wpcap.dll in its own folder (System32\Npcap), which Windows does
' not search. The first call of any ONDRIX function loads ONDRIX.dll, and
' where Npcap is installed that way it fails with error 53 ("File not found:
' ONDRIX.dll") although the file is there. OndrixLoad loads wpcap.dll from
' where Npcap or WinPcap put it (never from the current folder or PATH) and
' ONDRIX.dll from the full folder path you give, so call it before any other
' ONDRIX function. It returns "" when ready, else a sentence that says what
' is wrong; then make no other ONDRIX call:
'
'     VB6:     msg = OndrixLoad(App.Path)
'     Excel:   msg = OndrixLoad(ThisWorkbook.Path & "\x64")   ' or "\x86"
'     Word:    msg = OndrixLoad(ThisDocument.Path & "\x86")
'     If msg <> "" Then MsgBox msg: Exit Sub
'
' VB6 and 32-bit Office need x86\ONDRIX.dll, 64-bit Office x64\ONDRIX.dll;
' "#If Win64 Then" tells them apart in VBA.
'
' ---- receiving packets: the recommended pattern ----
' Copy mode into a module-level buffer sized once for the largest packet.
' The array stays VB's own, so it can be kept, erased and resized freely:
'
'     Private pkt() As Byte, hdr As PacketHeaderRecord
'     ReDim pkt(65535)                          ' once; 65536 = the snap length
'     OxSetNumber ParamCaptureMode, ModeCopy
'     If oxBegin(100) <> 0 Then MsgBox OxErrorText(): Exit Sub
'     If oxCapture(pkt, hdr) = 1 Then
'         ' the packet is pkt(0) to pkt(hdr.capturedLength - 1)
'     End If
'
' Always take the length from hdr.capturedLength: UBound(pkt) is the size of
' the buffer, not of the packet.
'
' ---- the alias pattern (ModeAlias, the default, and oxCaptureMem) ----
' Alias delivery copies nothing: it points the array at the capture library's
' own buffer. VB frees an array's memory on Erase, on ReDim, at the End Sub or
' End Function of the procedure that owns it and at program end, and would
' then free memory that is not its own (heap corruption, a crash later on).
' So hand the array back with OxRelease before any of those:
'
'     Dim pkt() As Byte, hdr As PacketHeaderRecord, i As Long
'     OxAliasArray pkt                          ' once, before the first delivery
'     For i = 1 To 100
'         If oxCapture(pkt, hdr) = 1 Then       ' ParamCaptureMode = ModeAlias
'             ' pkt(0) to pkt(hdr.capturedLength - 1), valid until the next call
'         End If
'     Next
'     OxRelease pkt                             ' before Erase, ReDim, End Sub, program end
'
' Also on every early way out (Exit Sub, an error handler). A module-level
' alias array must be released before the program ends (Form_Unload,
' Workbook_BeforeClose); after End, or a stop in the IDE, it can't be.
'
' ---- settings ----
' Set them with OxSetNumber and OxSetText. oxSetParam itself takes only
' Integer, Long and String values: a literal True, a Boolean, a Double or a
' Variant holding one of those is refused with -1 by design, and no error
' text is left.
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

' Filled by oxGetStats: the counters of the running capture since oxBegin,
' three Longs, 12 bytes. The pcap library counts unsigned: past 2147483647
' a count reads negative; add 4294967296# to it for the true count.
Public Type CaptureStatsRecord
    received As Long           ' packets the capture saw, those it lost included
    dropped As Long            ' packets lost because the buffer was full
    interfaceDropped As Long   ' packets the adapter or its driver dropped; often 0
End Type

' ---- oxSetParam codes ----
Public Const ParamSnapLength As Long = 0        ' 1 to 65536
Public Const ParamPromiscuous As Long = 1       ' 0 or 1
Public Const ParamDumpFileName As Long = 2      ' dump file, or the saved file to read
Public Const ParamKernelBufferSize As Long = 6  ' driver buffer bytes; 0 or less keeps the default
Public Const ParamCaptureMode As Long = 8       ' ModeDisk, ModeAlias or ModeCopy
Public Const ParamFilter As Long = 9            ' filter expression; once set it can't be removed, only replaced
Public Const ParamCaptureSource As Long = 10    ' SourceLive or SourceFile
' Dump-file rotation, read at oxBegin (docs: "Logging to disk for a long time"):
Public Const ParamDumpFileSize As Long = 20     ' a new file before one passes this many bytes; 0 off
Public Const ParamDumpFileSeconds As Long = 21  ' a new file this many seconds after a file's first packet; 0 off
Public Const ParamDumpFileCount As Long = 22    ' keep this capture's newest this-many files; 0 keeps all

' ---- delivery modes ----
Public Const ModeDisk As Long = 1      ' packets go to the dump file
Public Const ModeAlias As Long = 8     ' the array is pointed at the packet: OxAliasArray, then OxRelease before VB frees it
Public Const ModeCopy As Long = 100    ' the packet is copied into the array: the safe choice

' ---- sources ----
Public Const SourceLive As Long = 1001   ' the current adapter
Public Const SourceFile As Long = 1002   ' the saved file named by ParamDumpFileName

' ---- the exports: the 16, and oxGetStats (17th) ----
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
Public Declare PtrSafe Function oxGetStats Lib "ONDRIX.dll" (ByRef stats As CaptureStatsRecord) As Long
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
Public Declare Function oxGetStats Lib "ONDRIX.dll" (ByRef stats As CaptureStatsRecord) As Long
#End If

' ---- system functions used by the helpers below ----
' Private, under names of their own, so they never clash with a program's
' own declarations of the same functions. The Unicode ones keep folder names
' that the ANSI code page can't spell.
#If VBA7 Then
Private Declare PtrSafe Function OxGetModuleHandleW Lib "kernel32" Alias "GetModuleHandleW" (ByVal moduleName As LongPtr) As LongPtr
Private Declare PtrSafe Function OxLoadLibraryExW Lib "kernel32" Alias "LoadLibraryExW" (ByVal fileName As LongPtr, ByVal reserved As LongPtr, ByVal flags As Long) As LongPtr
Private Declare PtrSafe Function OxGetFileAttributesW Lib "kernel32" Alias "GetFileAttributesW" (ByVal fileName As LongPtr) As Long
Private Declare PtrSafe Function OxGetSystemDirectoryW Lib "kernel32" Alias "GetSystemDirectoryW" (ByVal buffer As LongPtr, ByVal size As Long) As Long
Private Declare PtrSafe Function OxGetFullPathNameW Lib "kernel32" Alias "GetFullPathNameW" (ByVal fileName As LongPtr, ByVal size As Long, ByVal buffer As LongPtr, ByVal filePart As LongPtr) As Long
Private Declare PtrSafe Sub OxReadArrayVariable Lib "kernel32" Alias "RtlMoveMemory" (ByRef target As LongPtr, ByRef arrayVariable() As Byte, ByVal bytes As LongPtr)
Private Declare PtrSafe Sub OxWriteMemory Lib "kernel32" Alias "RtlMoveMemory" (ByVal target As LongPtr, ByRef source As Any, ByVal bytes As LongPtr)
Private Declare PtrSafe Function OxSafeArrayDestroyData Lib "oleaut32" Alias "SafeArrayDestroyData" (ByVal descriptor As LongPtr) As Long
#Else
Private Declare Function OxGetModuleHandleW Lib "kernel32" Alias "GetModuleHandleW" (ByVal moduleName As Long) As Long
Private Declare Function OxLoadLibraryExW Lib "kernel32" Alias "LoadLibraryExW" (ByVal fileName As Long, ByVal reserved As Long, ByVal flags As Long) As Long
Private Declare Function OxGetFileAttributesW Lib "kernel32" Alias "GetFileAttributesW" (ByVal fileName As Long) As Long
Private Declare Function OxGetSystemDirectoryW Lib "kernel32" Alias "GetSystemDirectoryW" (ByVal buffer As Long, ByVal size As Long) As Long
Private Declare Function OxGetFullPathNameW Lib "kernel32" Alias "GetFullPathNameW" (ByVal fileName As Long, ByVal size As Long, ByVal buffer As Long, ByVal filePart As Long) As Long
Private Declare Sub OxReadArrayVariable Lib "kernel32" Alias "RtlMoveMemory" (ByRef target As Long, ByRef arrayVariable() As Byte, ByVal bytes As Long)
Private Declare Sub OxWriteMemory Lib "kernel32" Alias "RtlMoveMemory" (ByVal target As Long, ByRef source As Any, ByVal bytes As Long)
Private Declare Function OxSafeArrayDestroyData Lib "oleaut32" Alias "SafeArrayDestroyData" (ByVal descriptor As Long) As Long
#End If

Private Const LOAD_WITH_ALTERED_SEARCH_PATH As Long = &H8
Private Const LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR As Long = &H100
Private Const LOAD_LIBRARY_SEARCH_SYSTEM32 As Long = &H800
Private Const INVALID_FILE_ATTRIBUTES As Long = -1
Private Const FILE_ATTRIBUTE_DIRECTORY As Long = &H10
Private Const ERROR_INVALID_PARAMETER As Long = 87
Private Const ERROR_BAD_EXE_FORMAT As Long = 193

' Where a byte array's descriptor (SAFEARRAY) keeps its data pointer and its
' element count: after two Integers and two Longs comes the pointer, aligned
' to its size, then the count of the first dimension. (The Windows tests
' take these offsets from here, the Win64 branch first, and prove them.)
#If Win64 Then
Private Const OxPointerSize As Long = 8
Private Const OxDataOffset As Long = 16
Private Const OxCountOffset As Long = 24
#Else
Private Const OxPointerSize As Long = 4
Private Const OxDataOffset As Long = 12
Private Const OxCountOffset As Long = 16
#End If

' ---- loading ----

' Loads the pcap library and ONDRIX.dll from folder, the full path of the
' folder that holds ONDRIX.dll (e.g. App.Path). Returns "" when ready, else
' what is wrong. Call it before any other ONDRIX function. Calling it again
' does no harm.
'
' Every DLL is loaded by its full path, with the DLLs it needs taken from its
' own folder and System32 only: a search by bare name would reach the current
' folder and PATH, where anyone can leave a wpcap.dll or Packet.dll of their
' own. The process-wide search path is left alone: it belongs to the host and
' its other add-ins.
Public Function OndrixLoad(ByVal folder As String) As String
    Dim sysDir As String, n As Long, pcapPath As String, dllPath As String, lastError As Long
    If LCase$(Left$(folder, 7)) = "http://" Or LCase$(Left$(folder, 8)) = "https://" Then
        OndrixLoad = folder & " is a web address (a workbook opened from OneDrive or SharePoint), " & _
                     "and ONDRIX.dll can only be loaded from a folder on this computer: save the workbook " & _
                     "on a local disk, or pass the local folder that holds ONDRIX.dll (in OneDrive, set " & _
                     "that folder to ""Always keep on this device"")."
        Exit Function
    End If
    ' A relative folder would be taken from the current one, which the user
    ' does not control.
    If Not OxIsFullPath(folder) Then
        OndrixLoad = "ONDRIX.dll's folder must be a full path such as C:\ONDRIX\x86, not """ & folder & _
                     """ (a new workbook or document has no folder until it is saved)."
        Exit Function
    End If
    Do While Len(folder) > 1 And (Right$(folder, 1) = "\" Or Right$(folder, 1) = "/")
        folder = Left$(folder, Len(folder) - 1)
    Loop

    ' 1. A wpcap.dll already loaded in this process. 2. Npcap's own folder,
    '    then the system folder (WinPcap, or Npcap in its WinPcap
    '    API-compatible mode). A 32-bit program asking for System32 gets
    '    SysWOW64, where the 32-bit Npcap lives.
    If OxGetModuleHandleW(StrPtr("wpcap.dll")) = 0 Then
        sysDir = String$(260, vbNullChar)
        n = OxGetSystemDirectoryW(StrPtr(sysDir), 260)
        If n <= 0 Or n >= 260 Then
            OndrixLoad = NpcapMissing()
            Exit Function
        End If
        pcapPath = Left$(sysDir, n) & "\Npcap\wpcap.dll"
        If Not OxIsFile(pcapPath) Then pcapPath = Left$(sysDir, n) & "\wpcap.dll"
        If Not OxIsFile(pcapPath) Then
            OndrixLoad = NpcapMissing()
            Exit Function
        End If
        If Not OxLoadFile(pcapPath, lastError) Then
            ' Present but refused: a damaged install, or access denied.
            OndrixLoad = pcapPath & " could not be loaded (error " & lastError & _
                         "): repair or reinstall Npcap from https://npcap.com/."
            Exit Function
        End If
    End If

    ' 3. ONDRIX.dll by full path. Windows matches its import of wpcap.dll
    '    with the one loaded above, and VB's Declares then find ONDRIX.dll
    '    already loaded.
    dllPath = OxFullPath(folder & "\ONDRIX.dll")
    ' A missing file and a missing dependency both fail with error 126, so
    ' look for the file first.
    If Not OxIsFile(dllPath) Then
        OndrixLoad = "ONDRIX.dll was not found in " & folder & "."
        Exit Function
    End If
    If Not OxLoadFile(dllPath, lastError) Then
        If lastError = ERROR_BAD_EXE_FORMAT Then
            OndrixLoad = "ONDRIX.dll in " & folder & " does not match this program (error 193): " & _
                         "64-bit Office needs x64\ONDRIX.dll; VB6 and 32-bit Office need x86\ONDRIX.dll."
        Else
            OndrixLoad = "ONDRIX.dll in " & folder & " could not be loaded (error " & lastError & ")."
        End If
        Exit Function
    End If
    OndrixLoad = ""
End Function

Private Function NpcapMissing() As String
    NpcapMissing = "Npcap is not installed. Get it from https://npcap.com/ and install it; " & _
                   "ONDRIX finds it in its own folder, or anywhere when " & _
                   """Install Npcap in WinPcap API-compatible Mode"" is chosen."
End Function

' C:\... or \\server\share\...: the two kinds of folder that do not depend on
' the current one.
Private Function OxIsFullPath(ByVal folder As String) As Boolean
    Dim drive As String
    drive = LCase$(Left$(folder, 1))
    If drive >= "a" And drive <= "z" And Mid$(folder, 2, 1) = ":" Then
        OxIsFullPath = (Mid$(folder, 3, 1) = "\" Or Mid$(folder, 3, 1) = "/")
    Else
        OxIsFullPath = (Left$(folder, 2) = "\\" Or Left$(folder, 2) = "//")
    End If
End Function

Private Function OxIsFile(ByVal path As String) As Boolean
    Dim attributes As Long
    attributes = OxGetFileAttributesW(StrPtr(path))
    OxIsFile = attributes <> INVALID_FILE_ATTRIBUTES And (attributes And FILE_ATTRIBUTE_DIRECTORY) = 0
End Function

' The path as Windows spells it in full: with backslashes, which loading by
' full path needs.
Private Function OxFullPath(ByVal path As String) As String
    Dim buffer As String, n As Long
    buffer = String$(1024, vbNullChar)
    n = OxGetFullPathNameW(StrPtr(path), 1024, StrPtr(buffer), 0)
    If n > 0 And n < 1024 Then OxFullPath = Left$(buffer, n) Else OxFullPath = path
End Function

' Loads the DLL at path, with the DLLs it needs from its own folder and
' System32 only. Windows 7 without the update that added those flags refuses
' them (error 87): the same full path then goes the older way, which also
' looks beside the DLL first. False with the Windows error on failure.
Private Function OxLoadFile(ByVal path As String, ByRef lastError As Long) As Boolean
    If OxLoadLibraryExW(StrPtr(path), 0, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR Or LOAD_LIBRARY_SEARCH_SYSTEM32) <> 0 Then
        OxLoadFile = True
        Exit Function
    End If
    lastError = Err.LastDllError
    If lastError <> ERROR_INVALID_PARAMETER Then Exit Function
    OxLoadFile = OxLoadLibraryExW(StrPtr(path), 0, LOAD_WITH_ALTERED_SEARCH_PATH) <> 0
    lastError = Err.LastDllError
End Function

' ---- alias arrays ----
'
' How: VB passes an array to a Declare'd "ByRef x() As Byte" argument as the
' address of the array variable, exactly as the ONDRIX exports receive it.
' RtlMoveMemory declared that way reads the descriptor's address out of the
' variable, and RtlMoveMemory again writes zeros over the descriptor's data
' pointer and element count. A descriptor with no data is what VB frees
' without complaint: Erase, ReDim and End Sub then free only the descriptor.
' Only those two fields are touched, the same two that alias delivery
' writes, and no VB-runtime-specific function (such as VarPtrArray) is
' needed, so it works alike in VB5, VB6 and VBA, 32 and 64-bit.

' The address of the array's descriptor, 0 for an array never given a size.
#If VBA7 Then
Private Function OxDescriptor(packet() As Byte) As LongPtr
    Dim descriptor As LongPtr
#Else
Private Function OxDescriptor(packet() As Byte) As Long
    Dim descriptor As Long
#End If
    OxReadArrayVariable descriptor, packet, OxPointerSize
    OxDescriptor = descriptor
End Function

' Hands an array that alias delivery pointed at a packet back to VB: it is
' then empty (UBound -1) and can be erased, resized or left to go out of
' scope. Call it before Erase, ReDim, the End Sub of the procedure that owns
' the array, and program end. Use it only on alias arrays: on an array with
' memory of its own (ReDim'd and never aliased) that memory is never freed.
Public Sub OxRelease(packet() As Byte)
#If VBA7 Then
    Dim descriptor As LongPtr
#Else
    Dim descriptor As Long
#End If
    descriptor = OxDescriptor(packet)
    If descriptor = 0 Then Exit Sub   ' never given a size: nothing to hand back
    OxClearData descriptor
End Sub

' Zeros the descriptor's data pointer and element count. (Where a Long holds
' the address, adding the offset can't overflow: no descriptor lies in the
' last bytes below 2 GB.)
#If VBA7 Then
Private Sub OxClearData(ByVal descriptor As LongPtr)
    Dim noData As LongPtr
#Else
Private Sub OxClearData(ByVal descriptor As Long)
    Dim noData As Long
#End If
    Dim noElements As Long
    OxWriteMemory descriptor + OxDataOffset, noData, OxPointerSize
    OxWriteMemory descriptor + OxCountOffset, noElements, 4
End Sub

' Prepares a fresh array (Dim packet() As Byte) for alias delivery: it gets
' a descriptor, which the ONDRIX calls need, but no memory of its own, so
' that OxRelease leaves nothing behind. (An array ReDim'd by the program
' would keep its own block forever once OxRelease has dropped its pointer.)
' Safe to call again on an array that is aliased or already prepared.
Public Sub OxAliasArray(packet() As Byte)
#If VBA7 Then
    Dim descriptor As LongPtr
#Else
    Dim descriptor As Long
#End If
    OxRelease packet
    If OxDescriptor(packet) <> 0 Then Exit Sub   ' already has a descriptor, now without data
    ReDim packet(0)
    descriptor = OxDescriptor(packet)
    OxSafeArrayDestroyData descriptor   ' frees the one-byte block ReDim made
    OxClearData descriptor
End Sub

' ---- helpers ----

' The text of the last failure.
Public Function OxErrorText() As String
    OxErrorText = oxGetErrorDescription()
End Function

' A zero-terminated ANSI Byte field as a String.
Private Function FieldText(field() As Byte) As String
    Dim i As Long, bytes As String
    For i = LBound(field) To UBound(field)
        If field(i) = 0 Then Exit For
    Next
    If i > LBound(field) Then
        bytes = field
        FieldText = StrConv(LeftB$(bytes, i - LBound(field)), vbUnicode)
    End If
End Function

' The adapter name of a record filled by oxGetAdapterInfo.
Public Function OxAdapterName(info As AdapterInfoRecord) As String
    OxAdapterName = FieldText(info.name)
End Function

' The adapter description of a record filled by oxGetAdapterInfo.
Public Function OxAdapterDescription(info As AdapterInfoRecord) As String
    OxAdapterDescription = FieldText(info.description)
End Function

' Sets a text parameter (ParamDumpFileName, ParamFilter); returns 0 or -1.
' An empty text is refused.
Public Function OxSetText(ByVal code As Long, ByVal text As String) As Long
    Dim v As Variant
    v = text
    OxSetText = oxSetParam(code, v)
End Function

' Sets a numeric parameter; returns 0 or -1. Use it for every number and
' switch: OxSetNumber ParamPromiscuous, 1 (not True, which oxSetParam refuses).
Public Function OxSetNumber(ByVal code As Long, ByVal number As Long) As Long
    Dim v As Variant
    v = number
    OxSetNumber = oxSetParam(code, v)
End Function
