' expect: tries the system folder's wpcap.dll before Npcap's
Attribute VB_Name = "SystemFolderFirst"
Option Explicit

Private Function PcapFolder(ByVal sysDir As String) As String
    Dim pcapDir As String
    pcapDir = sysDir
    If Dir$(pcapDir & "wpcap.dll") = "" Then pcapDir = sysDir & "Npcap\"
    PcapFolder = pcapDir
End Function
