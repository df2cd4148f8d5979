/*
 * Stands in for Npcap's wpcap.dll: every function ONDRIX.dll imports, one
 * loopback adapter, and nothing opens. It imports the Packet.dll stand-in, as
 * the real one imports Npcap's Packet.dll. The adapter's description names
 * the files both stand-ins were loaded from, so a test sees which copies won.
 */
#include <winsock2.h>

#include <pcap.h>
#include <stdio.h>
#include <string.h>

__declspec(dllimport) const char *PacketGetVersion(void);

static char adapterName[] = "\\Device\\NPF_Loopback";
static char adapterDescription[PCAP_ERRBUF_SIZE];
static HINSTANCE self;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}
static char noCapture[] = "the Npcap stand-in opens nothing";

static void refuse(char *errbuf)
{
    if (errbuf)
        strcpy(errbuf, noCapture);
}

int pcap_findalldevs(pcap_if_t **list, char *errbuf)
{
    static pcap_if_t loopback;
    char own[MAX_PATH] = "?";
    /* Through Packet.dll, as the real library asks its driver. */
    const char *packet = PacketGetVersion();
    if (!packet) {
        refuse(errbuf);
        return -1;
    }
    GetModuleFileNameA(self, own, MAX_PATH);
    snprintf(adapterDescription, sizeof adapterDescription, "Npcap Loopback Adapter (%s with %s)", own,
             packet);
    memset(&loopback, 0, sizeof loopback);
    loopback.name = adapterName;
    loopback.description = adapterDescription;
    *list = &loopback;
    return 0;
}

void pcap_freealldevs(pcap_if_t *list) {}

pcap_t *pcap_open_live(const char *device, int snaplen, int promisc, int to_ms, char *errbuf)
{
    refuse(errbuf);
    return NULL;
}

pcap_t *pcap_open_offline(const char *fname, char *errbuf)
{
    refuse(errbuf);
    return NULL;
}

/* Nothing below is reached: no capture ever opens. */
int pcap_setbuff(pcap_t *p, int dim) { return -1; }
int pcap_compile(pcap_t *p, struct bpf_program *fp, const char *str, int optimize, bpf_u_int32 netmask)
{
    return -1;
}
int pcap_setfilter(pcap_t *p, struct bpf_program *fp) { return -1; }
void pcap_freecode(struct bpf_program *fp) {}
char *pcap_geterr(pcap_t *p) { return noCapture; }
int pcap_next_ex(pcap_t *p, struct pcap_pkthdr **header, const u_char **data) { return -1; }
pcap_dumper_t *pcap_dump_open(pcap_t *p, const char *fname) { return NULL; }
void pcap_dump(u_char *user, const struct pcap_pkthdr *header, const u_char *data) {}
int pcap_dump_flush(pcap_dumper_t *p) { return -1; }
void pcap_dump_close(pcap_dumper_t *p) {}
int pcap_sendpacket(pcap_t *p, const u_char *buf, int size) { return -1; }
int pcap_stats(pcap_t *p, struct pcap_stat *ps) { return -1; }
int pcap_datalink(pcap_t *p) { return 1; }
void pcap_close(pcap_t *p) {}
