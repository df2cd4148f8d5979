VERSION 5.00
Begin VB.Form frmCapture 
   Caption         =   "ONDRIX capture"
   ClientHeight    =   6600
   ClientLeft      =   60
   ClientTop       =   450
   ClientWidth     =   9600
   LinkTopic       =   "Form1"
   ScaleHeight     =   6600
   ScaleWidth      =   9600
   StartUpPosition =   3  'Windows Default
   Begin VB.Timer tmrPoll 
      Enabled         =   0   'False
      Interval        =   20
      Left            =   9000
      Top             =   6000
   End
   Begin VB.ComboBox cboAdapter 
      Height          =   315
      Left            =   1080
      Style           =   2  'Dropdown List
      TabIndex        =   1
      Top             =   120
      Width           =   8400
   End
   Begin VB.TextBox txtFilter 
      Height          =   315
      Left            =   1080
      TabIndex        =   3
      Top             =   540
      Width           =   5880
   End
   Begin VB.CommandButton cmdStart 
      Caption         =   "&Start"
      Default         =   -1  'True
      Height          =   375
      Left            =   7080
      TabIndex        =   4
      Top             =   510
      Width           =   1140
   End
   Begin VB.CommandButton cmdStop 
      Caption         =   "S&top"
      Enabled         =   0   'False
      Height          =   375
      Left            =   8340
      TabIndex        =   5
      Top             =   510
      Width           =   1140
   End
   Begin VB.ListBox lstPackets 
      BeginProperty Font 
         Name            =   "Courier New"
         Size            =   9
         Charset         =   0
         Weight          =   400
         Underline       =   0   'False
         Italic          =   0   'False
         Strikethrough   =   0   'False
      EndProperty
      Height          =   4920
      Left            =   120
      TabIndex        =   6
      Top             =   1020
      Width           =   9360
   End
   Begin VB.Label lblAdapter 
      Caption         =   "&Adapter:"
      Height          =   255
      Left            =   120
      TabIndex        =   0
      Top             =   160
      Width           =   900
   End
   Begin VB.Label lblFilter 
      Caption         =   "&Filter:"
      Height          =   255
      Left            =   120
      TabIndex        =   2
      Top             =   580
      Width           =   900
   End
   Begin VB.Label lblStatus 
      Height          =   435
      Left            =   120
      TabIndex        =   7
      Top             =   6060
      Width           =   9360
   End
End
Attribute VB_Name = "frmCapture"
Attribute VB_GlobalNameSpace = False
Attribute VB_Creatable = False
Attribute VB_PredeclaredId = True
Attribute VB_Exposed = False
' ONDRIX from VB6: lists the adapters, captures with a filter and lists each
' packet's date and time, lengths, addresses, ports, protocol, TCP flags and
' the name it carries (a DNS question, TLS server name or HTTP host). Copy the
' file x86\ONDRIX.dll into this folder (App.Path), not into an x86
' subfolder; the project takes ondrix.bas from the include folder.
Option Explicit

' Copy mode into a buffer the program owns, sized once for the largest
' packet (the snap length, 65536 bytes): VB may keep, erase or resize it
' freely, unlike an array that alias delivery points at a packet.
Private pkt() As Byte
Private hdr As PacketHeaderRecord
Private summary As PacketSummaryRecord
Private when As PacketTimeRecord
Private packetName As PacketNameRecord
Private stats As CaptureStatsRecord
Private loaded As Boolean      ' ONDRIX.dll is loaded: oxEnd and OndrixTerminate at the end
Private capturing As Boolean

Private Const ReadTimeoutMs As Long = 50     ' an idle read returns 0 after this; a packet comes within ms
Private Const PacketsPerTick As Long = 200   ' then the UI gets its turn
Private Const MaxListed As Long = 2000       ' a ListBox holds at most 32767 lines

Private Sub Form_Load()
    Dim msg As String, n As Long, i As Long, label As String
    ReDim pkt(65535)

    ' Before any other ONDRIX call: finds Npcap where Windows does not look.
    msg = OndrixLoad(App.Path)
    If msg <> "" Then
        cmdStart.Enabled = False
        ShowStatus msg
        Exit Sub
    End If
    loaded = True

    n = OndrixInit()
    If n < 0 Then
        cmdStart.Enabled = False
        ShowStatus "The adapters can't be listed: " & OxErrorText()
        Exit Sub
    End If
    ' "Ethernet: 192.168.1.20 (Intel(R) Ethernet ...)", " - not connected" after
    ' an adapter that can't carry traffic now.
    For i = 0 To n - 1
        label = OxAdapterLabel(i)
        If label <> "" Then
            cboAdapter.AddItem label
            cboAdapter.ItemData(cboAdapter.NewIndex) = i
        End If
    Next
    If cboAdapter.ListCount = 0 Then
        cmdStart.Enabled = False
        ShowStatus "No adapters found. Is Npcap installed? If it was installed for administrators only, run this program as administrator."
        Exit Sub
    End If
    ' The first connected adapter with a default gateway is most likely the one wanted.
    cboAdapter.ListIndex = 0
    i = OxPreferredAdapter(n)
    For n = 0 To cboAdapter.ListCount - 1
        If cboAdapter.ItemData(n) = i Then cboAdapter.ListIndex = n
    Next
    n = cboAdapter.ListCount
    ShowStatus n & " adapter(s). Choose one, type a filter if you like (e.g. tcp port 443) and press Start."
End Sub

Private Sub cmdStart_Click()
    Dim expression As String
    If capturing Or cboAdapter.ListIndex < 0 Then Exit Sub
    If oxSetCurrentAdapter(cboAdapter.ItemData(cboAdapter.ListIndex)) <> 0 Then
        ShowStatus "oxSetCurrentAdapter failed: " & OxErrorText()
        Exit Sub
    End If
    OxSetNumber ParamCaptureMode, ModeCopy
    ' The library keeps a filter from one start to the next, so an empty box
    ' clears it: every packet.
    expression = Trim$(txtFilter.Text)
    If expression = "" Then
        OxSetNumber ParamClearFilter, 0
    ElseIf OxSetText(ParamFilter, expression) <> 0 Then
        ShowStatus "The filter is too long."
        Exit Sub
    End If
    ' A capture left open by an interruption (Stop in the IDE, an unhandled
    ' error) would make oxBegin refuse; with none open, oxEnd does nothing.
    oxEnd
    If oxBegin(ReadTimeoutMs) <> 0 Then
        ShowStatus "oxBegin failed: " & OxErrorText()
        Exit Sub
    End If
    capturing = True
    lstPackets.Clear
    cboAdapter.Enabled = False
    cmdStart.Enabled = False
    cmdStop.Enabled = True
    tmrPoll.Enabled = True
    ShowStatus "Capturing..."
End Sub

Private Sub cmdStop_Click()
    StopCapture "Stopped."
End Sub

' Takes what has arrived. A read that finds no packet returns 0 after the
' read time-out (on Windows up to about 32 ms later), so the UI never waits
' much longer than that.
Private Sub tmrPoll_Timer()
    Dim i As Long, result As Long
    For i = 1 To PacketsPerTick
        result = oxCapture(pkt, hdr)
        If result = 1 Then
            ListPacket
        ElseIf result = 0 Then
            Exit For
        Else
            StopCapture "oxCapture failed: " & OxErrorText()
            Exit Sub
        End If
    Next
    ' What the capture library counted: dropped is what it lost for want of
    ' buffer room, because packets came faster than this program took them.
    If oxGetStats(stats) = 0 Then
        ShowStatus "Capturing... " & stats.received & " received, " & stats.dropped & " dropped."
    End If
End Sub

' One line: local date and time, captured/wire length, then "src:port >
' dst:port proto flags" as oxDecodePacket reads them from the packet just
' taken, and the name it carries, if any.
Private Sub ListPacket()
    Dim entry As String
    If oxGetPacketTime(when) = 0 Then entry = OxTimeText(when) & "  "
    entry = entry & Right$(Space$(5) & CStr(hdr.capturedLength), 5) & "/" & _
            Left$(CStr(hdr.wireLength) & Space$(5), 5) & "  "
    If oxDecodePacket(summary) = 0 Then entry = entry & PacketText(summary)
    If oxDecodeName(packetName) = 1 Then entry = entry & "  " & OxText(packetName.name)
    lstPackets.AddItem entry
    If lstPackets.ListCount > MaxListed Then lstPackets.RemoveItem 0
    lstPackets.TopIndex = lstPackets.ListCount - 1
End Sub

Private Function PacketText(s As PacketSummaryRecord) As String
    If s.ipVersion = 0 Then
        PacketText = "ethertype &H" & Hex$(s.etherType)
        If s.etherType = -1 Then PacketText = "link type " & s.linkType
        Exit Function
    End If
    PacketText = Endpoint(s.ipVersion, OxText(s.sourceAddress), s.sourcePort) & " > " & _
                 Endpoint(s.ipVersion, OxText(s.destinationAddress), s.destinationPort) & " "
    Select Case s.protocol
    Case 6: PacketText = PacketText & "TCP" & TcpFlagsText(s.tcpFlags)
    Case 17: PacketText = PacketText & "UDP"
    Case 1, 58: PacketText = PacketText & IIf(s.protocol = 1, "ICMP", "ICMPv6") & " type " & s.icmpType & " code " & s.icmpCode
    Case Else: PacketText = PacketText & "proto " & s.protocol
    End Select
End Function

' An IPv6 address is bracketed before its port: [2001:db8::1]:443.
Private Function Endpoint(ByVal ipVersion As Long, ByVal address As String, ByVal port As Long) As String
    If port < 0 Then
        Endpoint = address
    ElseIf ipVersion = 6 Then
        Endpoint = "[" & address & "]:" & port
    Else
        Endpoint = address & ":" & port
    End If
End Function

Private Function TcpFlagsText(ByVal flags As Long) As String
    Dim names As Variant, i As Long
    If flags < 0 Then Exit Function
    names = Array("FIN", "SYN", "RST", "PSH", "ACK", "URG", "ECE", "CWR")
    For i = 0 To 7
        If flags And 2 ^ i Then TcpFlagsText = TcpFlagsText & " " & names(i)
    Next
End Function

Private Sub StopCapture(ByVal why As String)
    tmrPoll.Enabled = False
    If capturing Then oxEnd
    capturing = False
    cboAdapter.Enabled = True
    cmdStart.Enabled = True
    cmdStop.Enabled = False
    ShowStatus why & " " & lstPackets.ListCount & " packet(s) listed."
End Sub

Private Sub ShowStatus(ByVal text As String)
    lblStatus.Caption = text
End Sub

Private Sub Form_Resize()
    If WindowState = vbMinimized Or ScaleWidth < 3000 Or ScaleHeight < 2500 Then Exit Sub
    lstPackets.Width = ScaleWidth - 240
    lblStatus.Width = ScaleWidth - 240
    lblStatus.Top = ScaleHeight - lblStatus.Height - 60
    lstPackets.Height = lblStatus.Top - lstPackets.Top - 60
End Sub

Private Sub Form_Unload(Cancel As Integer)
    tmrPoll.Enabled = False
    If loaded Then
        oxEnd
        OndrixTerminate
    End If
End Sub
