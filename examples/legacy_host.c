/* legacy_host.c - a host written the way existing Windows hosts are: it does not include
 * varnek.h and does not link the import library.  It loads Varnek.dll with LoadLibraryA,
 * takes each function with GetProcAddress through its own typedef'd cdecl prototype,
 * declares the 67-byte open record itself, and holds one session with a station that
 * echoes every message (varnek listen --echo):
 *
 *     legacy_host PORT          (the station listens on 127.0.0.1:PORT)
 *
 * Besides the exchange it checks what such a host relies on across the DLL boundary:
 * every export leaves its arguments for the caller to remove (cdecl), 16-bit results
 * arrive sign-extended in the whole of EAX, the library fills the host's packed record
 * and nothing beyond its 67 bytes, and the library calls the host's display function and
 * abort callback as cdecl functions.  Exit code 0 when all holds, 1 otherwise. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int(__cdecl *DISPFUNC)(unsigned short port, const char *text, unsigned short kind);
typedef int(__cdecl *ABORTFUNC)(void);

#pragma pack(push, 1)
typedef struct {
    char localName[16];
    char localAddress[16];
    char remoteName[16];
    char remoteAddress[16];
    unsigned short service;
    unsigned char serviceOption;
} OPENREC;
#pragma pack(pop)
typedef char OPENREC_IS_67_BYTES[sizeof(OPENREC) == 67 ? 1 : -1];

typedef void(__cdecl *PF_Session_Reset)(void);
typedef void(__cdecl *PF_SESSION_SetDispFunc)(DISPFUNC fn);
typedef void(__cdecl *PF_SESSION_Disp)(unsigned short port, const char *text, unsigned short kind);
typedef ABORTFUNC(__cdecl *PF_ABORT_SetFunc)(ABORTFUNC fn);
typedef short(__cdecl *PF_PCTCP_Open)(void);
typedef long(__cdecl *PF_PCTCP_Close)(void);
typedef short(__cdecl *PF_Session_Create)(short *id);
typedef short(__cdecl *PF_Session_Open)(int id, OPENREC *params, OPENREC *peer);
typedef short(__cdecl *PF_Session_TxStruct)(int id, const void *data, unsigned short n);
typedef short(__cdecl *PF_Session_TxWord)(int id, unsigned short value);
typedef short(__cdecl *PF_Session_TxLong)(int id, unsigned long value);
typedef short(__cdecl *PF_Session_EOM)(int id);
typedef short(__cdecl *PF_Session_RxStruct)(int id, void *buffer, unsigned short n);
typedef short(__cdecl *PF_Session_RxWord)(int id, unsigned short *value);
typedef short(__cdecl *PF_Session_RxLong)(int id, unsigned long *value);
typedef short(__cdecl *PF_Session_Close)(int id);
typedef unsigned short(__cdecl *PF_crc16_CalcStart)(const void *data, unsigned short n);

static int failures;

static void Check(int ok, const char *what)
{
    printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

/* ---------------------------------------------------------------- raw cdecl calls */

/* Calls fn with n 32-bit arguments pushed right to left, removes them itself as a cdecl
 * caller does, and stores in *left how many bytes the callee removed as well (0 for a
 * cdecl callee, 4n for a stdcall one).  Returns EAX whole. */
unsigned long RawCall(FARPROC fn, const unsigned long *args, int n, long *left);
__asm__(".text\n"
        ".globl _RawCall\n"
        "_RawCall:\n"
        "    pushl %ebp\n"
        "    movl  %esp, %ebp\n"
        "    pushl %ebx\n"
        "    pushl %esi\n"
        "    pushl %edi\n"
        "    movl  12(%ebp), %esi\n" /* args */
        "    movl  16(%ebp), %ebx\n" /* n, kept across the call */
        "    movl  %esp, %edi\n"     /* the stack before the arguments */
        "    movl  %ebx, %ecx\n"
        "1:  testl %ecx, %ecx\n"
        "    jz    2f\n"
        "    decl  %ecx\n"
        "    pushl (%esi,%ecx,4)\n"
        "    jmp   1b\n"
        "2:  call  *8(%ebp)\n"
        "    leal  (%esp,%ebx,4), %ecx\n" /* where a cdecl caller's clean-up leaves it */
        "    subl  %edi, %ecx\n"
        "    movl  20(%ebp), %edx\n"
        "    movl  %ecx, (%edx)\n"
        "    movl  %edi, %esp\n"
        "    popl  %edi\n"
        "    popl  %esi\n"
        "    popl  %ebx\n"
        "    popl  %ebp\n"
        "    ret\n");

static unsigned long CheckedCall(HMODULE dll, const char *name, const unsigned long *args, int n)
{
    long left = -1;
    unsigned long eax = RawCall(GetProcAddress(dll, name), args, n, &left);
    char what[128];
    snprintf(what, sizeof what, "%s leaves its %d argument bytes to the caller", name, 4 * n);
    Check(left == 0, what);
    return eax;
}

/* ---------------------------------------------------------------- host callbacks */

static int displayCalls;
static unsigned short lastPort, lastKind;
static char lastText[128];

static int __cdecl ShowStatus(unsigned short port, const char *text, unsigned short kind)
{
    ++displayCalls;
    lastPort = port;
    lastKind = kind;
    snprintf(lastText, sizeof lastText, "%s", text);
    printf("  [display] port %u kind %u: %s\n", (unsigned)port, (unsigned)kind, text);
    return 0;
}

static int abortCalls;

static int __cdecl NeverAbort(void)
{
    ++abortCalls;
    return 0;
}

/* ---------------------------------------------------------------- the host */

/* GetProcAddress gives a FARPROC; a host casts it to the function's own prototype. */
#define LOAD(name) PF_##name name = (PF_##name)(void (*)(void))GetProcAddress(dll, #name)

static const unsigned char RUN[] = {0x00, 0x7F, 0x80, 0xFF, 'L', 'E', 'G', 'A', 'C', 'Y', 0x0D, 0x0A};

static void CheckBoundary(HMODULE dll)
{
    static const unsigned char bytes[] = "123456789";
    unsigned long args[3] = {(unsigned long)bytes, 9, 0};
    unsigned long eax;
    short id = 600;

    eax = CheckedCall(dll, "crc16_CalcStart", args, 2);
    Check(eax == 0xBB3D, "crc16_CalcStart(\"123456789\") is 0xBB3D in the whole of EAX");

    args[0] = (unsigned long)&id;
    eax = CheckedCall(dll, "Session_Create", args, 1);
    Check(eax == 0xFFFFFFFEul, "Session_Create(600) gives -2 in the whole of EAX");

    args[0] = 0xFFFF0007ul; /* a 16-bit argument with garbage above it */
    args[1] = (unsigned long)"boundary";
    args[2] = 0xABCD0001ul;
    CheckedCall(dll, "SESSION_Disp", args, 3);
    Check(displayCalls == 1 && lastPort == 7 && lastKind == 1 && strcmp(lastText, "boundary") == 0,
          "SESSION_Disp reaches the host's display function as port 7, kind 1, \"boundary\"");
}

static int Converse(HMODULE dll, unsigned short port)
{
    LOAD(PCTCP_Open);
    LOAD(PCTCP_Close);
    LOAD(Session_Create);
    LOAD(Session_Open);
    LOAD(Session_TxStruct);
    LOAD(Session_TxWord);
    LOAD(Session_TxLong);
    LOAD(Session_EOM);
    LOAD(Session_RxStruct);
    LOAD(Session_RxWord);
    LOAD(Session_RxLong);
    LOAD(Session_Close);
    unsigned char area[sizeof(OPENREC) + 8];
    OPENREC params, *peer = (OPENREC *)area;
    unsigned char run[sizeof RUN];
    unsigned short word = 0;
    unsigned long dword = 0;
    short id = -1;
    int i, untouched = 1;

    Check(PCTCP_Open() == 1, "PCTCP_Open gives 1");
    Check(Session_Create(&id) == 1 && id >= 0, "Session_Create(-1) gives 1 and an id");

    memset(&params, 0, sizeof params);
    strcpy(params.localName, "LEGACY");
    strcpy(params.remoteName, "LISTENER");
    strcpy(params.remoteAddress, "127.000.000.001");
    params.service = port;
    memset(area, 0xA5, sizeof area);
    Check(Session_Open(id, &params, peer) == 2, "Session_Open gives 2 (opened)");
    Check(strcmp(peer->localName, "LISTENER") == 0, "the peer record names the listener");
    Check(peer->service == port && peer->serviceOption == 0, "the peer record carries the service number at offset 64");
    for (i = (int)sizeof(OPENREC); i < (int)sizeof area; ++i) untouched &= area[i] == 0xA5;
    Check(untouched, "nothing beyond the 67-byte peer record is written");

    /* the station's messages: a long word counting the bytes that follow, then those */
    Check(Session_TxLong(id, sizeof RUN + 8) == 1, "Session_TxLong gives 1");
    Check(Session_TxStruct(id, RUN, sizeof RUN) == 1, "Session_TxStruct gives 1");
    Check(Session_TxWord(id, 0x1234) == 1, "Session_TxWord gives 1");
    Check(Session_TxLong(id, 0x89ABCDEFul) == 1, "Session_TxLong gives 1");
    Check(Session_TxWord(id, 0xFFFE) == 1, "Session_TxWord gives 1");
    Check(Session_EOM(id) == 1, "Session_EOM gives 1");

    Check(Session_RxLong(id, &dword) == 1 && dword == sizeof RUN + 8, "the answer's length comes first");
    Check(Session_RxStruct(id, run, sizeof run) == 1 && memcmp(run, RUN, sizeof RUN) == 0,
          "the byte run comes back");
    Check(Session_RxWord(id, &word) == 1 && word == 0x1234, "the word 0x1234 comes back");
    Check(Session_RxLong(id, &dword) == 1 && dword == 0x89ABCDEFul, "the long word 0x89ABCDEF comes back");
    Check(Session_RxWord(id, &word) == 4 && word == 0xFFFE, "the word 0xFFFE ends the answer (4, the turn)");

    Check(Session_TxLong(id, 0) == 1, "an empty last message");
    Check(Session_Close(id) == 1, "Session_Close gives 1");
    Check(abortCalls > 0, "the library asked the host's abort callback while waiting");
    PCTCP_Close();
    return 0;
}

int main(int argc, char **argv)
{
    HMODULE dll = LoadLibraryA("Varnek.dll");
    if (dll == NULL) {
        printf("FAIL: LoadLibraryA(\"Varnek.dll\") failed (%lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    if (argc != 2) {
        printf("usage: legacy_host PORT\n");
        return 1;
    }
    LOAD(Session_Reset);
    LOAD(SESSION_SetDispFunc);
    LOAD(ABORT_SetFunc);
    Session_Reset();
    SESSION_SetDispFunc(ShowStatus);
    ABORT_SetFunc(NeverAbort);

    CheckBoundary(dll);
    Converse(dll, (unsigned short)atoi(argv[1]));

    FreeLibrary(dll);
    printf("%s\n", failures == 0 ? "legacy host: all checks hold" : "legacy host: checks failed");
    return failures == 0 ? 0 : 1;
}
