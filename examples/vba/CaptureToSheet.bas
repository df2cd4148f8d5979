Attribute VB_Name = "CaptureToSheet"
' ONDRIX from Excel: captures packets into the rows of a new worksheet.
'
' Setup: in the VBA editor, File > Import File... both ondrix.bas and this
' module; save the workbook as .xlsm; put ONDRIX.dll beside it, the 32-bit
' one in an x86 folder and the 64-bit one in an x64 folder (the module picks
' the one that matches this Office). Then run ListAdapters to see the
' adapters, and CapturePackets to capture.
Option Explicit

Private Const PacketCount As Long = 100      ' rows to fill
Private Const TimeLimitSeconds As Long = 30  ' stop after this long even with fewer packets
Private Const ReadTimeoutMs As Long = 200    ' an idle read returns 0 after this; a packet comes within ms

' Copy mode into a buffer the program owns, sized for the largest packet
' (the snap length, 65536 bytes); alias mode would need OxRelease.
Private pkt() As Byte
Private hdr As PacketHeaderRecord
Private summary As PacketSummaryRecord
Private when As PacketTimeRecord
Private packetName As PacketNameRecord
Private stats As CaptureStatsRecord

' Loads ONDRIX.dll for this Office's bitness before any other ONDRIX call.
' False after telling the user what is wrong.
Private Function Loaded() As Boolean
    Dim msg As String
    If ThisWorkbook.Path = "" Then
        MsgBox "Save the workbook first: ONDRIX.dll is looked for beside it.", vbExclamation
        Exit Function
    End If
#If Win64 Then
    msg = OndrixLoad(ThisWorkbook.Path & "\x64")
#Else
    msg = OndrixLoad(ThisWorkbook.Path & "\x86")
#End If
    If msg <> "" Then
        MsgBox msg, vbExclamation
        Exit Function
    End If
    Loaded = True
End Function

' A new sheet with each adapter's index, what it is ("Ethernet: 192.168.1.20
' (Intel(R) Ethernet ...)", marked when not connected) and pcap name; the one
' CapturePackets suggests is marked too.
Public Sub ListAdapters()
    Dim ws As Worksheet, n As Long, i As Long, suggested As Long, info As AdapterInfoRecord
    If Not Loaded() Then Exit Sub
    n = OndrixInit()
    If n < 0 Then
        MsgBox "The adapters can't be listed: " & OxErrorText(), vbExclamation
        Exit Sub
    End If
    Set ws = ThisWorkbook.Worksheets.Add
    ws.Range("A1:D1").Value = Array("Index", "Adapter", "Name", "Suggested")
    suggested = OxPreferredAdapter(n)
    For i = 0 To n - 1
        If oxGetAdapterInfo(i, info) = 0 Then
            ws.Cells(i + 2, 1).Value = i
            ws.Cells(i + 2, 2).Value = OxAdapterLabel(i)
            ws.Cells(i + 2, 3).Value = OxAdapterName(info)
            If i = suggested Then ws.Cells(i + 2, 4).Value = "yes"
        End If
    Next
    ws.Columns("A:D").AutoFit
    OndrixTerminate
End Sub

' Asks for an adapter and a filter, then writes up to PacketCount packets
' into a new sheet: local date and time, microseconds, lengths, the decoded
' fields and the name a packet carries. Cancel at either question cancels.
Public Sub CapturePackets()
    If Not Loaded() Then Exit Sub
    Dim n As Long
    n = OndrixInit()
    If n < 1 Then
        MsgBox "No adapter found. Is Npcap installed? " & OxErrorText(), vbExclamation
    Else
        CaptureOnChosenAdapter n
    End If
    OndrixTerminate
End Sub

Private Sub CaptureOnChosenAdapter(ByVal count As Long)
    Dim answer As Variant, expression As String, ws As Worksheet, index As Long
    Dim row As Long, result As Long, started As Single

    ' An index, or what the user knows of the adapter: "Wi-Fi", its IPv4
    ' address, its MAC. The suggestion is the adapter with the default gateway.
    answer = Application.InputBox("Adapter: index (run ListAdapters to see them), name such as Wi-Fi, IP address or MAC:", _
                                  "ONDRIX", OxPreferredAdapter(count), Type:=2)
    If VarType(answer) = vbBoolean Then Exit Sub   ' cancelled
    If IsNumeric(answer) Then
        index = CLng(answer)
    Else
        index = oxFindAdapter(CStr(answer))
        If index < 0 Then
            MsgBox OxErrorText(), vbExclamation
            Exit Sub
        End If
    End If
    If oxSetCurrentAdapter(index) <> 0 Then
        MsgBox OxErrorText(), vbExclamation
        Exit Sub
    End If
    ' The library keeps a filter from one run to the next, so an empty
    ' answer clears it.
    answer = Application.InputBox("Filter, e.g. tcp port 443 (empty: every packet):", "ONDRIX", "", Type:=2)
    If VarType(answer) = vbBoolean Then Exit Sub   ' cancelled
    expression = Trim$(CStr(answer))
    If expression = "" Then
        OxSetNumber ParamClearFilter, 0
    ElseIf OxSetText(ParamFilter, expression) <> 0 Then
        MsgBox "The filter is too long.", vbExclamation
        Exit Sub
    End If

    ReDim pkt(65535)
    OxSetNumber ParamCaptureMode, ModeCopy
    ' A capture left open by an interruption (Ctrl+Break, Reset, an unhandled
    ' error) would make oxBegin refuse; with none open, oxEnd does nothing.
    oxEnd
    If oxBegin(ReadTimeoutMs) <> 0 Then
        MsgBox "oxBegin failed: " & OxErrorText(), vbExclamation
        Exit Sub
    End If

    Set ws = ThisWorkbook.Worksheets.Add
    ws.Range("A1:M1").Value = Array("Date and time", "Microseconds", "Captured", "On the wire", "EtherType", "VLAN", _
                                    "Source", "Source port", "Destination", "Destination port", "Protocol", _
                                    "TCP flags", "Name")
    ws.Columns("A").NumberFormat = "yyyy-mm-dd hh:mm:ss.000"
    row = 1
    started = Timer
    Do While row <= PacketCount
        result = oxCapture(pkt, hdr)
        If result = 1 Then
            row = row + 1
            ' A Date that sorts across midnight; .Value would round it to the second.
            If oxGetPacketTime(when) = 0 Then ws.Cells(row, 1).Value2 = when.localDate
            ws.Cells(row, 2).Value = hdr.microseconds
            ws.Cells(row, 3).Value = hdr.capturedLength
            ws.Cells(row, 4).Value = hdr.wireLength
            ' The fields of the packet just taken; -1 where it has none.
            If oxDecodePacket(summary) = 0 Then
                ws.Range(ws.Cells(row, 5), ws.Cells(row, 12)).Value = Array(summary.etherType, summary.vlanId, _
                    OxText(summary.sourceAddress), summary.sourcePort, OxText(summary.destinationAddress), _
                    summary.destinationPort, summary.protocol, summary.tcpFlags)
            End If
            ' A DNS question, a TLS server name or an HTTP host, as text: from
            ' the network, it must never become a formula ("=...").
            If oxDecodeName(packetName) = 1 Then ws.Cells(row, 13).Value = "'" & OxText(packetName.name)
        ElseIf result < 0 Then
            MsgBox "oxCapture failed: " & OxErrorText(), vbExclamation
            Exit Do
        End If
        ' Timer restarts at midnight.
        If Timer - started > TimeLimitSeconds Or Timer < started Then Exit Do
        DoEvents
    Loop
    ' What the capture library counted; dropped is what it lost for want of
    ' buffer room because packets came faster than they were taken.
    If oxGetStats(stats) = 0 Then
        ws.Cells(row + 2, 1).Value = "Received " & stats.received & ", dropped " & stats.dropped & _
                                     ", dropped by the adapter " & stats.interfaceDropped
    End If
    oxEnd
    ws.Columns("A:M").AutoFit
    MsgBox (row - 1) & " packet(s) captured.", vbInformation
End Sub
