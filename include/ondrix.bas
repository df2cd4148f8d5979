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
'     Dim pkt() As Byte, hdr As PacketHeaderRecord, i As Long, r As Long
'     OxAliasArray pkt                          ' once, before the first delivery
'     For i = 1 To 100
'         r = oxCapture(pkt, hdr)               ' ParamCaptureMode = ModeAlias
'         If r = -1 Then MsgBox OxErrorText(): Exit For
'         If r = 1 Then
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
' convert them; OxAdapterName, OxAdapterDescription and OxText turn them into
' Strings.
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

' Filled by oxGetAdapterDetails: what the system knows of an adapter, 360
' bytes. Texts are zero-terminated Byte arrays: read them with OxText.
Public Type AdapterDetailsRecord
    flags As Long                   ' AdapterLoopback, AdapterConnected, AdapterWireless added up
    mtu As Long                     ' bytes; -1 when unknown
    ipv4PrefixLength As Long        ' of ipv4Address; -1 when there is none
    ipv6PrefixLength As Long        ' of ipv6Address; -1 when there is none
    mac(0 To 7) As Byte             ' the 6-byte hardware address, then 2 zeros; all 0 when none
    friendlyName(0 To 255) As Byte  ' the name Windows shows ("Ethernet", "Wi-Fi")
    ipv4Address(0 To 15) As Byte    ' first IPv4 address, dotted; empty when none
    ipv4Gateway(0 To 15) As Byte    ' the IPv4 default gateway through this adapter; empty when none
    ipv6Address(0 To 47) As Byte    ' first global IPv6 address, else the link-local one; empty when none
End Type

' Filled by oxDecodePacket: the common fields of the packet last delivered,
' 156 bytes. What the packet doesn't have holds -1, zeros or empty text.
Public Type PacketSummaryRecord
    linkType As Long                   ' 1 Ethernet, 0 or 108 loopback (Npcap's loopback adapter: 0), ...
    etherType As Long                  ' &H800 IPv4, &H86DD IPv6, &H806 ARP, ...; -1 when none
    vlanId As Long                     ' the outermost VLAN tag's id; -1 when untagged
    ipVersion As Long                  ' 4 or 6; 0 without a whole IP header
    protocol As Long                   ' 6 TCP, 17 UDP, 1 ICMP, 58 ICMPv6, ...; -1 without IP
    hopLimit As Long                   ' IPv4 TTL or IPv6 hop limit; -1 without IP
    sourcePort As Long                 ' TCP or UDP; -1 otherwise
    destinationPort As Long
    tcpFlags As Long                   ' FIN 1, SYN 2, RST 4, PSH 8, ACK 16, URG 32, ECE 64, CWR 128; -1 when not TCP
    icmpType As Long                   ' ICMP or ICMPv6; -1 otherwise
    icmpCode As Long
    payloadOffset As Long              ' where the TCP/UDP payload starts (else the IP payload); -1 when unknown or past the captured bytes
    payloadLength As Long              ' as the headers declare it; -1 when unknown
    sourceMac(0 To 5) As Byte
    destinationMac(0 To 5) As Byte
    sourceAddress(0 To 45) As Byte     ' dotted IPv4 or IPv6 text; empty without IP
    destinationAddress(0 To 45) As Byte
End Type

' Filled by oxGetPacketTime: the date and time of the packet last delivered,
' 24 bytes. The two Doubles come first, so that VB6 and 64-bit VBA agree.
' OxTimeText shows it to the microsecond; in Excel, write localDate to a cell
' with .Value2 (.Value rounds a Date to the second).
Public Type PacketTimeRecord
    localDate As Date          ' local date and time, to the microsecond: sorts and formats as any Date
    unixSeconds As Double      ' seconds since 1970-01-01 UTC, with the fraction
    microseconds As Long       ' the timestamp's microseconds
    utcOffsetMinutes As Long   ' local time minus UTC at that instant (daylight saving as it then was)
End Type

' Filled by oxDecodeName: the name a packet carries, 264 bytes. Read the
' name with OxText.
Public Type PacketNameRecord
    kind As Long              ' NameNone, NameDnsQuery, NameDnsResponse, NameTlsServer or NameHttpHost
    length As Long            ' the name's bytes
    name(0 To 255) As Byte    ' zero-terminated; empty when there is none
End Type

' ---- PacketNameRecord.kind ----
Public Const NameNone As Long = 0
Public Const NameDnsQuery As Long = 1      ' the first question of a DNS (mDNS, LLMNR) query
Public Const NameDnsResponse As Long = 2   ' the same, in a response
Public Const NameTlsServer As Long = 3     ' the server name a TLS client asks for
Public Const NameHttpHost As Long = 4      ' the Host header of an HTTP request

' ---- AdapterDetailsRecord.flags ----
Public Const AdapterLoopback As Long = 1
Public Const AdapterConnected As Long = 2   ' link up, can carry traffic
Public Const AdapterWireless As Long = 4

' ---- oxSetParam codes ----
Public Const ParamSnapLength As Long = 0        ' 1 to 65536
Public Const ParamPromiscuous As Long = 1       ' 0 or 1
Public Const ParamDumpFileName As Long = 2      ' dump file, or the saved file to read
Public Const ParamKernelBufferSize As Long = 6  ' driver buffer bytes; 0 or less keeps the default
Public Const ParamCaptureMode As Long = 8       ' ModeDisk, ModeAlias or ModeCopy
Public Const ParamFilter As Long = 9            ' filter expression; "" is refused: ParamClearFilter removes it
Public Const ParamCaptureSource As Long = 10    ' SourceLive or SourceFile
' Dump-file rotation, read at oxBegin (docs: "Logging to disk for a long time"). The name is
' made a full path then (its folder must exist); each numbered file is created new, never over
' another file:
Public Const ParamDumpFileSize As Long = 20     ' a new file before one passes this many bytes; 0 off
Public Const ParamDumpFileSeconds As Long = 21  ' a new file this many seconds after a file's first packet; 0 off
Public Const ParamDumpFileCount As Long = 22    ' at most this many of this capture's files, the current one too (1: only it); 0 all
Public Const ParamClearFilter As Long = 23      ' any value: empties the stored filter (every packet again)

' ---- delivery modes ----
Public Const ModeDisk As Long = 1      ' packets go to the dump file
Public Const ModeAlias As Long = 8     ' the array is pointed at the packet: OxAliasArray, then OxRelease before VB frees it
Public Const ModeCopy As Long = 100    ' the packet is copied into the array: the safe choice

' ---- sources ----
Public Const SourceLive As Long = 1001   ' the current adapter
Public Const SourceFile As Long = 1002   ' the saved file named by ParamDumpFileName

' ---- the exports: the 16, and six added since (17 to 22) ----
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
Public Declare PtrSafe Function oxGetAdapterDetails Lib "ONDRIX.dll" (ByVal index As Long, ByRef details As AdapterDetailsRecord) As Long
Public Declare PtrSafe Function oxFindAdapter Lib "ONDRIX.dll" (ByVal text As String) As Long
Public Declare PtrSafe Function oxDecodePacket Lib "ONDRIX.dll" (ByRef summary As PacketSummaryRecord) As Long
Public Declare PtrSafe Function oxGetPacketTime Lib "ONDRIX.dll" (ByRef time As PacketTimeRecord) As Long
Public Declare PtrSafe Function oxDecodeName Lib "ONDRIX.dll" (ByRef name As PacketNameRecord) As Long
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
Public Declare Function oxGetAdapterDetails Lib "ONDRIX.dll" (ByVal index As Long, ByRef details As AdapterDetailsRecord) As Long
Public Declare Function oxFindAdapter Lib "ONDRIX.dll" (ByVal text As String) As Long
Public Declare Function oxDecodePacket Lib "ONDRIX.dll" (ByRef summary As PacketSummaryRecord) As Long
Public Declare Function oxGetPacketTime Lib "ONDRIX.dll" (ByRef time As PacketTimeRecord) As Long
Public Declare Function oxDecodeName Lib "ONDRIX.dll" (ByRef name As PacketNameRecord) As Long
#End If

' ---- system functions used by the helpers below ----
' Private, under names of their own, so they never clash with a program's
' own declarations of the same functions. The Unicode ones keep folder names
' that the ANSI code page can't spell.
#If VBA7 Then
Private Declare PtrSafe Function OxGetModuleHandleW Lib "kernel32" Alias "GetModuleHandleW" (ByVal moduleName As LongPtr) As LongPtr
Private Declare PtrSafe Function OxGetModuleHandleExW Lib "kernel32" Alias "GetModuleHandleExW" (ByVal flags As Long, ByVal moduleName As LongPtr, ByRef module As LongPtr) As Long
Private Declare PtrSafe Function OxGetModuleFileNameW Lib "kernel32" Alias "GetModuleFileNameW" (ByVal module As LongPtr, ByVal buffer As LongPtr, ByVal size As Long) As Long
Private Declare PtrSafe Function OxGetProcAddress Lib "kernel32" Alias "GetProcAddress" (ByVal module As LongPtr, ByVal procName As String) As LongPtr
Private Declare PtrSafe Function OxLoadLibraryExW Lib "kernel32" Alias "LoadLibraryExW" (ByVal fileName As LongPtr, ByVal reserved As LongPtr, ByVal flags As Long) As LongPtr
Private Declare PtrSafe Function OxFreeLibrary Lib "kernel32" Alias "FreeLibrary" (ByVal module As LongPtr) As Long
Private Declare PtrSafe Function OxGetFileAttributesW Lib "kernel32" Alias "GetFileAttributesW" (ByVal fileName As LongPtr) As Long
Private Declare PtrSafe Function OxCreateFileW Lib "kernel32" Alias "CreateFileW" (ByVal fileName As LongPtr, ByVal access As Long, ByVal share As Long, ByVal security As LongPtr, ByVal disposition As Long, ByVal flags As Long, ByVal template As LongPtr) As LongPtr
Private Declare PtrSafe Function OxReadFile Lib "kernel32" Alias "ReadFile" (ByVal file As LongPtr, ByRef buffer As Any, ByVal bytes As Long, ByRef got As Long, ByVal overlapped As LongPtr) As Long
Private Declare PtrSafe Function OxCloseHandle Lib "kernel32" Alias "CloseHandle" (ByVal handle As LongPtr) As Long
Private Declare PtrSafe Function OxGetSystemDirectoryW Lib "kernel32" Alias "GetSystemDirectoryW" (ByVal buffer As LongPtr, ByVal size As Long) As Long
Private Declare PtrSafe Function OxGetSystemWow64DirectoryW Lib "kernel32" Alias "GetSystemWow64DirectoryW" (ByVal buffer As LongPtr, ByVal size As Long) As Long
Private Declare PtrSafe Function OxGetFullPathNameW Lib "kernel32" Alias "GetFullPathNameW" (ByVal fileName As LongPtr, ByVal size As Long, ByVal buffer As LongPtr, ByVal filePart As LongPtr) As Long
Private Declare PtrSafe Function OxCompareStringOrdinal Lib "kernel32" Alias "CompareStringOrdinal" (ByVal a As LongPtr, ByVal aLength As Long, ByVal b As LongPtr, ByVal bLength As Long, ByVal ignoreCase As Long) As Long
Private Declare PtrSafe Sub OxReadArrayVariable Lib "kernel32" Alias "RtlMoveMemory" (ByRef target As LongPtr, ByRef arrayVariable() As Byte, ByVal bytes As LongPtr)
Private Declare PtrSafe Sub OxWriteMemory Lib "kernel32" Alias "RtlMoveMemory" (ByVal target As LongPtr, ByRef source As Any, ByVal bytes As LongPtr)
Private Declare PtrSafe Sub OxReadMemory Lib "kernel32" Alias "RtlMoveMemory" (ByRef target As Any, ByVal source As LongPtr, ByVal bytes As LongPtr)
Private Declare PtrSafe Function OxSafeArrayDestroyData Lib "oleaut32" Alias "SafeArrayDestroyData" (ByVal descriptor As LongPtr) As Long
#Else
Private Declare Function OxGetModuleHandleW Lib "kernel32" Alias "GetModuleHandleW" (ByVal moduleName As Long) As Long
Private Declare Function OxGetModuleHandleExW Lib "kernel32" Alias "GetModuleHandleExW" (ByVal flags As Long, ByVal moduleName As Long, ByRef module As Long) As Long
Private Declare Function OxGetModuleFileNameW Lib "kernel32" Alias "GetModuleFileNameW" (ByVal module As Long, ByVal buffer As Long, ByVal size As Long) As Long
Private Declare Function OxGetProcAddress Lib "kernel32" Alias "GetProcAddress" (ByVal module As Long, ByVal procName As String) As Long
Private Declare Function OxLoadLibraryExW Lib "kernel32" Alias "LoadLibraryExW" (ByVal fileName As Long, ByVal reserved As Long, ByVal flags As Long) As Long
Private Declare Function OxFreeLibrary Lib "kernel32" Alias "FreeLibrary" (ByVal module As Long) As Long
Private Declare Function OxGetFileAttributesW Lib "kernel32" Alias "GetFileAttributesW" (ByVal fileName As Long) As Long
Private Declare Function OxCreateFileW Lib "kernel32" Alias "CreateFileW" (ByVal fileName As Long, ByVal access As Long, ByVal share As Long, ByVal security As Long, ByVal disposition As Long, ByVal flags As Long, ByVal template As Long) As Long
Private Declare Function OxReadFile Lib "kernel32" Alias "ReadFile" (ByVal file As Long, ByRef buffer As Any, ByVal bytes As Long, ByRef got As Long, ByVal overlapped As Long) As Long
Private Declare Function OxCloseHandle Lib "kernel32" Alias "CloseHandle" (ByVal handle As Long) As Long
Private Declare Function OxGetSystemDirectoryW Lib "kernel32" Alias "GetSystemDirectoryW" (ByVal buffer As Long, ByVal size As Long) As Long
Private Declare Function OxGetSystemWow64DirectoryW Lib "kernel32" Alias "GetSystemWow64DirectoryW" (ByVal buffer As Long, ByVal size As Long) As Long
Private Declare Function OxGetFullPathNameW Lib "kernel32" Alias "GetFullPathNameW" (ByVal fileName As Long, ByVal size As Long, ByVal buffer As Long, ByVal filePart As Long) As Long
Private Declare Function OxCompareStringOrdinal Lib "kernel32" Alias "CompareStringOrdinal" (ByVal a As Long, ByVal aLength As Long, ByVal b As Long, ByVal bLength As Long, ByVal ignoreCase As Long) As Long
Private Declare Sub OxReadArrayVariable Lib "kernel32" Alias "RtlMoveMemory" (ByRef target As Long, ByRef arrayVariable() As Byte, ByVal bytes As Long)
Private Declare Sub OxWriteMemory Lib "kernel32" Alias "RtlMoveMemory" (ByVal target As Long, ByRef source As Any, ByVal bytes As Long)
Private Declare Sub OxReadMemory Lib "kernel32" Alias "RtlMoveMemory" (ByRef target As Any, ByVal source As Long, ByVal bytes As Long)
Private Declare Function OxSafeArrayDestroyData Lib "oleaut32" Alias "SafeArrayDestroyData" (ByVal descriptor As Long) As Long
#End If

Private Const LOAD_WITH_ALTERED_SEARCH_PATH As Long = &H8
Private Const LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR As Long = &H100
Private Const LOAD_LIBRARY_SEARCH_SYSTEM32 As Long = &H800
Private Const INVALID_FILE_ATTRIBUTES As Long = -1
Private Const FILE_ATTRIBUTE_DIRECTORY As Long = &H10
Private Const GENERIC_READ As Long = &H80000000
Private Const FILE_SHARE_READ As Long = 1
Private Const FILE_SHARE_WRITE As Long = 2
Private Const OPEN_EXISTING As Long = 3
Private Const INVALID_HANDLE_VALUE As Long = -1
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

' What OndrixLoad says: the numbers of OxSentence, as in ondrix.h. OxReady:
' nothing more to do.
Private Const OxSayWeb As Long = 0
Private Const OxSayRelative As Long = 1
Private Const OxSayOtherOndrix As Long = 2
Private Const OxSayForeign As Long = 3
Private Const OxSayUnbound As Long = 4
Private Const OxSayNoPacket As Long = 5
Private Const OxSayPcapRefused As Long = 6
Private Const OxSayNoNpcap As Long = 7
Private Const OxSayTooLong As Long = 8
Private Const OxSayNotFound As Long = 9
Private Const OxSayBitness As Long = 10
Private Const OxSayDamaged As Long = 11
Private Const OxSayRefused As Long = 12
Private Const OxSayNotBound As Long = 13
Private Const OxReady As Long = -2

' Where a module's headers (at the offset its first 64 bytes end with) keep
' the place of its import table.
#If Win64 Then
Private Const OxImportsEntry As Long = 144
#Else
Private Const OxImportsEntry As Long = 128
#End If

' Loads the pcap library and ONDRIX.dll from folder, the full path of the
' folder that holds ONDRIX.dll (e.g. App.Path). Returns "" when ready, else
' what is wrong. Call it before any other ONDRIX function. Calling it again
' with the same folder does no harm; another folder is refused, as VB's
' Declares stay bound to the ONDRIX.dll loaded first.
'
' Every DLL is loaded by its full path: a search by bare name would reach the
' current folder and PATH, where anyone can leave a wpcap.dll or Packet.dll
' of their own. A wpcap.dll or Packet.dll that something else in the process
' loaded is used only from Npcap's folder or the system folder. The
' process-wide search path is left alone: it belongs to the host and its
' other add-ins. The same steps as OndrixLoad in ondrix.h.
Public Function OndrixLoad(ByVal folder As String) As String
    Dim name As String, dll As String, found As String, flags As Long, lastError As Long, say As Long
    ' A String can hold a NUL, where Windows would take the folder to end.
    If InStr(folder, vbNullChar) > 0 Then
        OndrixLoad = "ONDRIX.dll's folder holds a NUL character (Chr$(0)), where Windows would take it " & _
                     "to end: pass the folder's path only."
        Exit Function
    End If
    flags = OxSearchFlags()
    say = OxCheckFolder(folder, name, dll)
    If say = -1 Then say = OxLoaded("ONDRIX.dll", dll, found)
    If say = -1 Then say = OxPcap(flags, found, lastError)
    If say = -1 Then say = OxLoadDll(dll, flags, lastError)
    Select Case say
    Case -1, OxReady
        OndrixLoad = ""
    Case OxSayWeb, OxSayRelative
        OndrixLoad = OxSay(say, folder)
    Case OxSayOtherOndrix
        OndrixLoad = OxSay(say, found, dll)
    Case OxSayForeign To OxSayNoNpcap
        OndrixLoad = OxSay(say, found, CStr(lastError))
    Case Else
        OndrixLoad = OxSay(say, name, CStr(lastError))
    End Select
End Function

' The same words as ondrix_sentence_ in ondrix.h (a test compares them). %1
' and %2 are filled in by OxSay.
Private Function OxSentence(ByVal k As Long) As String
    Select Case k
    Case OxSayWeb
        OxSentence = "%1 is a web address (a workbook opened from OneDrive or SharePoint), and ONDRIX.dll " & _
                     "can only be loaded from a folder on this computer: save the workbook on a local disk, " & _
                     "or pass the local folder that holds ONDRIX.dll (in OneDrive, set that folder to " & _
                     """Always keep on this device"")."
    Case OxSayRelative
        OxSentence = "ONDRIX.dll's folder must be a full path such as C:\ONDRIX\x86, not ""%1"" (a new " & _
                     "workbook or document has no folder until it is saved)."
    Case OxSayOtherOndrix
        OxSentence = "ONDRIX.dll is already loaded in this program from %1, so %2 can't be loaded as well: " & _
                     "restart the program to use the other one."
    Case OxSayForeign
        OxSentence = "%1 is already loaded: a program in this process loaded it from there, and ONDRIX uses " & _
                     "wpcap.dll and Packet.dll only from Npcap's folder or the system folder. Restart the " & _
                     "program without the add-in or library that loads it."
    Case OxSayUnbound
        OxSentence = "%1 is already loaded but not ready to run: a program in this process loaded it only " & _
                     "to look at it. Restart the program without the add-in or library that loads it."
    Case OxSayNoPacket
        OxSentence = "%1, which wpcap.dll needs, is missing: repair or reinstall Npcap from https://npcap.com/."
    Case OxSayPcapRefused
        OxSentence = "%1 could not be loaded (error %2): repair or reinstall Npcap from https://npcap.com/."
    Case OxSayNoNpcap
        OxSentence = "Npcap is not installed. Get it from https://npcap.com/ and install it; ONDRIX finds " & _
                     "it in its own folder, or anywhere when ""Install Npcap in WinPcap API-compatible " & _
                     "Mode"" is chosen."
    Case OxSayTooLong
        OxSentence = "The path of ONDRIX.dll in %1 is too long: Windows loads a DLL only from a path " & _
                     "shorter than 260 characters, so move ONDRIX.dll to a shorter folder."
    Case OxSayNotFound
        OxSentence = "ONDRIX.dll was not found in %1."
    Case OxSayBitness
        OxSentence = "ONDRIX.dll in %1 does not match this program (error 193): 64-bit Office needs " & _
                     "x64\ONDRIX.dll; VB6 and 32-bit Office need x86\ONDRIX.dll."
    Case OxSayDamaged
        OxSentence = "ONDRIX.dll in %1 is damaged or not a DLL (error %2): reinstall it from the release zip."
    Case OxSayRefused
        OxSentence = "ONDRIX.dll in %1 could not be loaded (error %2)."
    Case OxSayNotBound
        OxSentence = "ONDRIX.dll in %1 was loaded, but the program finds another module by that name " & _
                     "first: restart the program and call OndrixLoad before any other ONDRIX function."
    End Select
End Function

' Sentence k with %1 and %2 (each at most once, %1 first) filled in.
Private Function OxSay(ByVal k As Long, ByVal a As String, Optional ByVal b As String) As String
    Dim s As String, filled As String, at As Long
    s = OxSentence(k)
    at = InStr(s, "%1")
    If at > 0 Then
        filled = Left$(s, at - 1) & a
        s = Mid$(s, at + 2)
    End If
    at = InStr(s, "%2")
    If at > 0 Then
        filled = filled & Left$(s, at - 1) & b
        s = Mid$(s, at + 2)
    End If
    OxSay = filled & s
End Function

' kernel32 has AddDllDirectory exactly where LoadLibraryExW takes the
' LOAD_LIBRARY_SEARCH_* flags (Windows 8 and later, 7 with KB2533623).
Private Function OxSearchFlags() As Long
    If OxGetProcAddress(OxGetModuleHandleW(StrPtr("kernel32.dll")), "AddDllDirectory") = 0 Then
        OxSearchFlags = LOAD_WITH_ALTERED_SEARCH_PATH
    Else
        OxSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR Or LOAD_LIBRARY_SEARCH_SYSTEM32
    End If
End Function

' Refuses a web address or a relative folder (it would be taken from the
' current one, which the user does not control). Else name is the folder
' without trailing slashes but for C:\'s own, and dll the full path of
' ONDRIX.dll in it as Windows spells it (with the backslashes loading needs).
Private Function OxCheckFolder(ByVal folder As String, ByRef name As String, ByRef dll As String) As Long
    Dim n As Long
    OxCheckFolder = -1
    If LCase$(Left$(folder, 7)) = "http://" Or LCase$(Left$(folder, 8)) = "https://" Then
        OxCheckFolder = OxSayWeb
    ElseIf Not OxIsFullPath(folder) Then
        OxCheckFolder = OxSayRelative
    ElseIf Len(folder) > 1023 Then
        name = Left$(folder, 1023)
        OxCheckFolder = OxSayTooLong
    Else
        n = Len(folder)
        Do While n > 1 And OxIsSlash(Mid$(folder, n, 1))
            n = n - 1
        Loop
        If n = 2 And Mid$(folder, 2, 1) = ":" Then n = 3
        name = Left$(folder, n)
        If OxIsSlash(Right$(name, 1)) Then dll = OxFullPath(name & "ONDRIX.dll") Else dll = OxFullPath(name & "\ONDRIX.dll")
        If dll = "" Then OxCheckFolder = OxSayTooLong
    End If
End Function

Private Function OxIsSlash(ByVal c As String) As Boolean
    OxIsSlash = (c = "\") Or (c = "/")
End Function

' C:\... or \\server\share...: the folders that do not depend on the current one.
Private Function OxIsFullPath(ByVal folder As String) As Boolean
    Dim drive As String, i As Long
    drive = LCase$(Left$(folder, 1))
    If drive >= "a" And drive <= "z" And Mid$(folder, 2, 1) = ":" Then
        OxIsFullPath = OxIsSlash(Mid$(folder, 3, 1))
    ElseIf OxIsSlash(Left$(folder, 1)) And OxIsSlash(Mid$(folder, 2, 1)) Then
        i = 3
        Do While i <= Len(folder) And Not OxIsSlash(Mid$(folder, i, 1))
            i = i + 1
        Loop
        OxIsFullPath = i > 3 And i < Len(folder) And Not OxIsSlash(Mid$(folder, i + 1, 1))
    End If
End Function

' The path as Windows spells it in full, "" where it is too long to load from.
Private Function OxFullPath(ByVal path As String) As String
    Dim buffer As String, n As Long
    buffer = String$(1024, vbNullChar)
    n = OxGetFullPathNameW(StrPtr(path), 1024, StrPtr(buffer), 0)
    If n > 0 And n < 260 Then OxFullPath = Left$(buffer, n)
End Function

#If VBA7 Then
Private Function OxModulePath(ByVal module As LongPtr) As String
#Else
Private Function OxModulePath(ByVal module As Long) As String
#End If
    Dim buffer As String, n As Long
    buffer = String$(1024, vbNullChar)
    n = OxGetModuleFileNameW(module, StrPtr(buffer), 1024)
    If n > 0 And n < 1024 Then OxModulePath = Left$(buffer, n)
End Function

' Ignoring case as the file system does (2 is CSTR_EQUAL), not by the
' rules of the user's language.
Private Function OxSamePath(ByVal a As String, ByVal b As String) As Boolean
    OxSamePath = OxCompareStringOrdinal(StrPtr(a), -1, StrPtr(b), -1, 1) = 2
End Function

Private Function OxIsFile(ByVal path As String) As Boolean
    Dim attributes As Long
    attributes = OxGetFileAttributesW(StrPtr(path))
    OxIsFile = attributes <> INVALID_FILE_ATTRIBUTES And (attributes And FILE_ATTRIBUTE_DIRECTORY) = 0
End Function

' The system folder with a trailing backslash, as Windows names it for this
' program (k = 0: SysWOW64 for a 32-bit one on 64-bit Windows) or as
' GetSystemDirectoryW does (k = 1), which reaches the same folder. "" where
' it does not fit.
Private Function OxSystemFolder(ByVal k As Long) As String
    Dim buffer As String, n As Long
    buffer = String$(260, vbNullChar)
#If Not Win64 Then
    If k = 0 Then n = OxGetSystemWow64DirectoryW(StrPtr(buffer), 260)
#End If
    If n = 0 Or n >= 260 Then n = OxGetSystemDirectoryW(StrPtr(buffer), 260)
    If n > 0 And n < 259 Then OxSystemFolder = Left$(buffer, n) & "\"
End Function

' Whether path is name in Npcap's folder or in the system folder.
Private Function OxTrusted(ByVal path As String, ByVal name As String) As Boolean
    Dim k As Long, sysDir As String
    For k = 0 To 1
        sysDir = OxSystemFolder(k)
        If sysDir <> "" Then
            If OxSamePath(path, sysDir & name) Or OxSamePath(path, sysDir & "Npcap\" & name) Then OxTrusted = True
        End If
    Next
End Function

' A module of that name already in the process: -1 where there is none,
' OxReady where it may be used (ONDRIX.dll from the path wanted, the pcap
' library from Npcap's folder or the system folder, and either only if ready
' to run; a reference then keeps it there), else the sentence that refuses
' it, with its path in found.
Private Function OxLoaded(ByVal name As String, ByVal wanted As String, ByRef found As String) As Long
#If VBA7 Then
    Dim module As LongPtr
#Else
    Dim module As Long
#End If
    Dim say As Long
    OxLoaded = -1
    If OxGetModuleHandleExW(0, StrPtr(name), module) = 0 Then Exit Function
    found = OxModulePath(module)
    say = OxReady
    If wanted <> "" Then
        If Not OxSamePath(found, wanted) Then say = OxSayOtherOndrix
    ElseIf Not OxTrusted(found, name) Then
        say = OxSayForeign
    End If
    If say = OxReady And OxUnbound(module) Then say = OxSayUnbound
    If say <> OxReady Then OxFreeLibrary module
    OxLoaded = say
End Function

' A module that a program loaded only to look at (DONT_RESOLVE_DLL_REFERENCES)
' has its imports unbound: the first slot of its import address table still
' holds what its name table holds. A call into it would crash.
#If VBA7 Then
Private Function OxUnbound(ByVal module As LongPtr) As Boolean
    Dim slot As LongPtr, named As LongPtr
#Else
Private Function OxUnbound(ByVal module As Long) As Boolean
    Dim slot As Long, named As Long
#End If
    Dim headers As Long, imports As Long, nameTable As Long, addressTable As Long
    OxReadMemory headers, module + 60, 4
    OxReadMemory imports, module + headers + OxImportsEntry, 4
    If imports = 0 Then Exit Function
    OxReadMemory nameTable, module + imports, 4
    OxReadMemory addressTable, module + imports + 16, 4
    If nameTable = 0 Then Exit Function
    OxReadMemory named, module + nameTable, OxPointerSize
    OxReadMemory slot, module + addressTable, OxPointerSize
    OxUnbound = (slot = named)
End Function

' wpcap.dll and Packet.dll: those already loaded if they may be used, else
' wpcap.dll loaded. -1 when ready, else the sentence.
Private Function OxPcap(ByVal flags As Long, ByRef found As String, ByRef lastError As Long) As Long
    Dim wpcap As Long, packet As Long
    wpcap = OxLoaded("wpcap.dll", "", found)
    If wpcap >= 0 Then
        OxPcap = wpcap
        Exit Function
    End If
    packet = OxLoaded("Packet.dll", "", found)
    If packet >= 0 Then
        OxPcap = packet
    ElseIf wpcap = OxReady Then
        OxPcap = -1
    Else
        OxPcap = OxLoadPcap(flags, packet = OxReady, found, lastError)
    End If
End Function

' wpcap.dll by full path: Npcap's own folder first, then the system folder
' (WinPcap, or Npcap in its WinPcap API-compatible mode). -1 when loaded,
' else the sentence, with the file in found.
Private Function OxLoadPcap(ByVal flags As Long, ByVal packetLoaded As Boolean, ByRef found As String, _
                            ByRef lastError As Long) As Long
    Dim sysDir As String, pcapDir As String
    OxLoadPcap = OxSayNoNpcap
    sysDir = OxSystemFolder(0)
    If sysDir = "" Then Exit Function
    pcapDir = sysDir & "Npcap\"
    If Not OxIsFile(pcapDir & "wpcap.dll") Then pcapDir = sysDir
    If Not OxIsFile(pcapDir & "wpcap.dll") Then Exit Function
    OxLoadPcap = -1
    If flags = LOAD_WITH_ALTERED_SEARCH_PATH And Not packetLoaded Then
        ' The older search would go on to the current folder and PATH.
        found = pcapDir & "Packet.dll"
        If Not OxIsFile(found) Then
            OxLoadPcap = OxSayNoPacket
            Exit Function
        End If
        If OxLoadLibraryExW(StrPtr(found), 0, flags) = 0 Then
            lastError = Err.LastDllError
            OxLoadPcap = OxSayPcapRefused
            Exit Function
        End If
    End If
    found = pcapDir & "wpcap.dll"
    If OxLoadLibraryExW(StrPtr(found), 0, flags) = 0 Then
        ' Present but refused: a damaged install, or access denied.
        lastError = Err.LastDllError
        OxLoadPcap = OxSayPcapRefused
    End If
End Function

' ONDRIX.dll by full path. -1 when loaded, else the sentence.
Private Function OxLoadDll(ByVal dll As String, ByVal flags As Long, ByRef lastError As Long) As Long
#If VBA7 Then
    Dim module As LongPtr
#Else
    Dim module As Long
#End If
    OxLoadDll = -1
    ' A missing file and a missing dependency both fail with error 126, so
    ' look for the file first.
    If Not OxIsFile(dll) Then
        OxLoadDll = OxSayNotFound
        Exit Function
    End If
    module = OxLoadLibraryExW(StrPtr(dll), 0, flags)
    If module = 0 Then
        lastError = Err.LastDllError
        If lastError <> ERROR_BAD_EXE_FORMAT Then
            OxLoadDll = OxSayRefused
        ElseIf OxOtherMachineDll(dll) Then
            OxLoadDll = OxSayBitness
        Else
            OxLoadDll = OxSayDamaged
        End If
    ElseIf OxGetModuleHandleW(StrPtr("ONDRIX.dll")) <> module Then
        ' The Declares find ONDRIX.dll by that name: it must be this module.
        OxFreeLibrary module
        OxLoadDll = OxSayNotBound
    End If
End Function

' Error 193 is also what a damaged file or one that is no program gives:
' only a DLL built for the other machine is a matter of bitness.
Private Function OxOtherMachineDll(ByVal path As String) As Boolean
#If VBA7 Then
    Dim file As LongPtr
#Else
    Dim file As Long
#End If
    Dim head(0 To 1023) As Byte, got As Long, at As Long, machine As Long
    file = OxCreateFileW(StrPtr(path), GENERIC_READ, FILE_SHARE_READ Or FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0)
    If file = INVALID_HANDLE_VALUE Then Exit Function
    If OxReadFile(file, head(0), 1024, got, 0) = 0 Then got = 0
    OxCloseHandle file
    If got < 64 Or head(62) <> 0 Or head(63) <> 0 Then Exit Function
    If head(0) <> 77 Or head(1) <> 90 Then Exit Function   ' MZ
    at = head(60) + head(61) * 256&
    If at > got - 24 Then Exit Function
    If head(at) <> 80 Or head(at + 1) <> 69 Or head(at + 2) <> 0 Or head(at + 3) <> 0 Then Exit Function   ' PE
#If Win64 Then
    machine = &H14C     ' x86
#Else
    machine = &H8664&   ' x64
#End If
    OxOtherMachineDll = (head(at + 23) And &H20) <> 0 And head(at + 4) + head(at + 5) * 256& = machine
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

' A zero-terminated ANSI Byte field of a record, such as the texts of an
' AdapterDetailsRecord, as a String: OxText(details.friendlyName).
Public Function OxText(field() As Byte) As String
    OxText = FieldText(field)
End Function

' "2024-03-10 01:59:59.999999": the local date and time of a record filled
' by oxGetPacketTime. Format shows a Date to the nearest second, so the
' microseconds are taken off first and written out after it.
Public Function OxTimeText(t As PacketTimeRecord) As String
    OxTimeText = Format$(t.localDate - t.microseconds / 86400000000#, "yyyy-mm-dd hh:nn:ss") & "." & _
                 Format$(t.microseconds, "000000")
End Function

' How a list shows the adapter at index: "Ethernet: 192.168.1.20 (Intel(R)
' Ethernet Connection I219-LM)", with " - not connected" after an adapter
' that can't carry traffic now. "" for an index with no adapter.
Public Function OxAdapterLabel(ByVal index As Long) As String
    Dim details As AdapterDetailsRecord, info As AdapterInfoRecord
    Dim label As String, address As String, description As String
    If oxGetAdapterDetails(index, details) <> 0 Then Exit Function
    If oxGetAdapterInfo(index, info) <> 0 Then Exit Function
    label = OxText(details.friendlyName)
    description = OxAdapterDescription(info)
    If label = "" Then label = OxAdapterName(info)
    address = OxText(details.ipv4Address)
    If address = "" Then address = OxText(details.ipv6Address)
    If address = "" Then address = "no address"
    label = label & ": " & address
    If description <> "" And description <> OxText(details.friendlyName) Then label = label & " (" & description & ")"
    If (details.flags And AdapterConnected) = 0 Then label = label & " - not connected"
    OxAdapterLabel = label
End Function

' The adapter a capture most likely wants among the first count: the first
' connected adapter that is not loopback and has an IPv4 default gateway;
' failing that the first connected one that is not loopback; failing that 0.
Public Function OxPreferredAdapter(ByVal count As Long) As Long
    Dim details As AdapterDetailsRecord, i As Long, fallback As Long
    fallback = -1
    For i = 0 To count - 1
        If oxGetAdapterDetails(i, details) = 0 Then
            If (details.flags And AdapterConnected) <> 0 And (details.flags And AdapterLoopback) = 0 Then
                If details.ipv4Gateway(0) <> 0 Then
                    OxPreferredAdapter = i
                    Exit Function
                End If
                If fallback < 0 Then fallback = i
            End If
        End If
    Next
    If fallback < 0 Then fallback = 0
    OxPreferredAdapter = fallback
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
