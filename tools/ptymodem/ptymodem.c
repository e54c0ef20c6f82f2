/* Modem lines for ptys standing in for COM ports under Wine.
 *
 * A pty has no modem lines, so Wine's TIOCMGET/TIOCMSET/TIOCGICOUNT calls fail on it and
 * GetCommModemStatus, EscapeCommFunction and WaitCommEvent break. Preloaded into the Wine
 * process, this answers those requests for pty slaves only; every other fd and request goes
 * to the real ioctl.
 *
 * With PTYMODEM_DIR set, pty /dev/pts/N is described by two files there:
 *   ptsN.in   written by the test peer: "LINES [FRAME OVERRUN PARITY BREAKS]", LINES the
 *             TIOCM_* bits it drives (CTS, DSR, CD, RI), the rest cumulative error counts;
 *   ptsN.out  written here: "LINES BREAK", the DTR/RTS bits the program set and 1 while it
 *             holds a break.
 * Without a .in file the peer is taken to hold CTS, DSR and CD up.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#define PEER_LINES (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI)
#define OWN_LINES (TIOCM_DTR | TIOCM_RTS)
#define MAX_PTYS 64

struct pty_state {
    int used;
    unsigned index;
    int own;        /* DTR/RTS as the program set them */
    int brk;        /* break held by the program */
    int last_peer;  /* peer lines at the last look, to count changes */
    struct serial_icounter_struct count;
};

typedef int (*ioctl_fn)(int, unsigned long, ...);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct pty_state ptys[MAX_PTYS];

static int pty_index(int fd, unsigned *index)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    unsigned major_no = major(st.st_rdev);
    if (major_no < 136 || major_no > 143) return 0; /* Unix98 pty slaves */
    *index = (major_no - 136) * 256 + minor(st.st_rdev);
    return 1;
}

static struct pty_state *state_for(unsigned index)
{
    struct pty_state *free_slot = NULL;
    for (int i = 0; i < MAX_PTYS; i++) {
        if (ptys[i].used && ptys[i].index == index) return &ptys[i];
        if (!ptys[i].used && !free_slot) free_slot = &ptys[i];
    }
    if (!free_slot) free_slot = &ptys[0];
    memset(free_slot, 0, sizeof *free_slot);
    free_slot->used = 1;
    free_slot->index = index;
    free_slot->own = OWN_LINES;
    free_slot->last_peer = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    return free_slot;
}

static void file_name(char *out, size_t size, unsigned index, const char *suffix)
{
    const char *dir = getenv("PTYMODEM_DIR");
    if (!dir || !*dir) { out[0] = 0; return; }
    snprintf(out, size, "%s/pts%u.%s", dir, index, suffix);
}

/* Reads the peer's side; counts line changes and takes the error counts. */
static int peer_lines(struct pty_state *s)
{
    char name[512];
    int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD, frame = 0, overrun = 0, parity = 0, brk = 0;
    file_name(name, sizeof name, s->index, "in");
    if (name[0]) {
        FILE *f = fopen(name, "r");
        if (f) {
            if (fscanf(f, "%d %d %d %d %d", &lines, &frame, &overrun, &parity, &brk) < 1)
                lines = s->last_peer;
            fclose(f);
        }
    }
    lines &= PEER_LINES;
    int changed = lines ^ s->last_peer;
    if (changed & TIOCM_CTS) s->count.cts++;
    if (changed & TIOCM_DSR) s->count.dsr++;
    if (changed & TIOCM_CD) s->count.dcd++;
    if ((changed & TIOCM_RI) && !(lines & TIOCM_RI)) s->count.rng++; /* trailing edge, as UARTs count */
    s->last_peer = lines;
    s->count.frame = frame;
    s->count.overrun = overrun;
    s->count.parity = parity;
    s->count.brk = brk;
    return lines;
}

static void publish_own(struct pty_state *s)
{
    char name[512], tmp[520];
    file_name(name, sizeof name, s->index, "out");
    if (!name[0]) return;
    snprintf(tmp, sizeof tmp, "%s.%d", name, (int)getpid());
    FILE *f = fopen(tmp, "w");
    if (!f) return;
    fprintf(f, "%d %d\n", s->own, s->brk);
    fclose(f);
    rename(tmp, name); /* the peer never reads half a line */
}

/* Returns 1 when the request was answered here. */
static int emulate(int fd, unsigned long request, void *arg, int *result)
{
    unsigned index;
    switch (request) {
    case TIOCMGET: case TIOCMSET: case TIOCMBIS: case TIOCMBIC:
    case TIOCGICOUNT: case TIOCSERGETLSR: case TIOCSBRK: case TIOCCBRK:
        break;
    default:
        return 0;
    }
    if (!pty_index(fd, &index)) return 0;

    pthread_mutex_lock(&lock);
    struct pty_state *s = state_for(index);
    int *bits = (int *)arg;
    *result = 0;
    switch (request) {
    case TIOCMGET:
        *bits = peer_lines(s) | s->own;
        break;
    case TIOCMSET:
        s->own = *bits & OWN_LINES;
        publish_own(s);
        break;
    case TIOCMBIS:
        s->own |= *bits & OWN_LINES;
        publish_own(s);
        break;
    case TIOCMBIC:
        s->own &= ~(*bits & OWN_LINES);
        publish_own(s);
        break;
    case TIOCGICOUNT:
        peer_lines(s);
        memcpy(arg, &s->count, sizeof s->count);
        break;
    case TIOCSERGETLSR:
        *bits = TIOCSER_TEMT;
        break;
    case TIOCSBRK:
    case TIOCCBRK:
        s->brk = request == TIOCSBRK;
        publish_own(s);
        break;
    }
    pthread_mutex_unlock(&lock);
    return 1;
}

static int forward(const char *name, int fd, unsigned long request, void *arg)
{
    ioctl_fn real = (ioctl_fn)dlsym(RTLD_NEXT, name);
    if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    if (!real) { errno = ENOSYS; return -1; }
    return real(fd, request, arg);
}

static int handle(const char *name, int fd, unsigned long request, void *arg)
{
    int result;
    if (emulate(fd, request, arg, &result)) return result;
    return forward(name, fd, request, arg);
}

/* Every request the library knows takes one pointer argument. */
#define TAKE_ARG(request) \
    va_list ap;           \
    va_start(ap, request); \
    void *arg = va_arg(ap, void *); \
    va_end(ap)

int ioctl(int fd, unsigned long request, ...)
{
    TAKE_ARG(request);
    return handle("ioctl", fd, request, arg);
}

/* What a 32-bit glibc built with 64-bit time calls ioctl by; Wine's i386 ntdll.so imports it. */
int __ioctl_time64(int fd, unsigned long request, ...)
{
    TAKE_ARG(request);
    return handle("__ioctl_time64", fd, request, arg);
}
