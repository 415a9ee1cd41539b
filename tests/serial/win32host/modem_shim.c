/* Preloaded into wine for the Windows serial tests: a Linux pseudo-terminal
 * has no modem lines and refuses TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC and
 * TIOCGICOUNT, which wine's WaitCommEvent, EscapeCommFunction and
 * GetCommModemStatus need. On a pty slave this answers them instead, as a
 * null-modem cable looped back would: DSR follows DTR, CTS follows RTS,
 * carrier and ring stay low, no line errors.
 *
 * With KELM_MODEMSHIM_LOG set, every change of DTR or RTS and every write to
 * such a pty is appended to that file, one line each ("RTS+", "RTS-", "DTR+",
 * "DTR-", "W<n>"), so that a test can check the order of the direction
 * changes around a transmission. */
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
#include <termios.h>
#include <unistd.h>

#define MAX_PTYS 64

struct pty_state {
    int fd;    /* -1: free */
    int lines; /* TIOCM_DTR and TIOCM_RTS as set */
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static struct pty_state g_ptys[MAX_PTYS];
static int g_init;

static int (*real_ioctl)(int, unsigned long, ...);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_close)(int);

static void resolve(void) {
    if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    if (!real_write) real_write = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (!real_close) real_close = (int (*)(int))dlsym(RTLD_NEXT, "close");
}

static void init_locked(void) {
    if (g_init) return;
    for (int i = 0; i < MAX_PTYS; ++i) g_ptys[i].fd = -1;
    g_init = 1;
}

static int is_pty_slave(int fd) {
    char path[64], target[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n <= 0) return 0;
    target[n] = '\0';
    return strncmp(target, "/dev/pts/", 9) == 0;
}

/* The entry of fd, made when create is set; NULL otherwise. g_lock held. */
static struct pty_state* find_locked(int fd, int create) {
    init_locked();
    struct pty_state* free_slot = NULL;
    for (int i = 0; i < MAX_PTYS; ++i) {
        if (g_ptys[i].fd == fd) return &g_ptys[i];
        if (g_ptys[i].fd < 0 && !free_slot) free_slot = &g_ptys[i];
    }
    if (!create || !free_slot) return NULL;
    free_slot->fd = fd;
    free_slot->lines = TIOCM_DTR | TIOCM_RTS; /* what open raises on a UART */
    return free_slot;
}

static void log_line(const char* text) {
    const char* path = getenv("KELM_MODEMSHIM_LOG");
    if (!path || !*path) return;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    char line[32];
    const int n = snprintf(line, sizeof line, "%s\n", text);
    if (n > 0) (void)real_write(fd, line, (size_t)n);
    real_close(fd);
}

static void log_changes(int before, int after) {
    if ((before ^ after) & TIOCM_DTR) log_line((after & TIOCM_DTR) ? "DTR+" : "DTR-");
    if ((before ^ after) & TIOCM_RTS) log_line((after & TIOCM_RTS) ? "RTS+" : "RTS-");
}

static int emulate(int fd, unsigned long req, void* arg) {
    pthread_mutex_lock(&g_lock);
    struct pty_state* s = find_locked(fd, 1);
    if (!s) {
        pthread_mutex_unlock(&g_lock);
        errno = ENOMEM;
        return -1;
    }
    const int before = s->lines;
    int result = 0;
    switch (req) {
        case TIOCMGET: {
            int v = s->lines & (TIOCM_DTR | TIOCM_RTS);
            if (v & TIOCM_DTR) v |= TIOCM_DSR;
            if (v & TIOCM_RTS) v |= TIOCM_CTS;
            *(int*)arg = v;
            break;
        }
        case TIOCMSET:
            s->lines = *(const int*)arg & (TIOCM_DTR | TIOCM_RTS);
            break;
        case TIOCMBIS:
            s->lines |= *(const int*)arg & (TIOCM_DTR | TIOCM_RTS);
            break;
        case TIOCMBIC:
            s->lines &= ~(*(const int*)arg & (TIOCM_DTR | TIOCM_RTS));
            break;
        case TIOCGICOUNT:
            memset(arg, 0, sizeof(struct serial_icounter_struct));
            break;
        default:
            result = -1;
            errno = EINVAL;
            break;
    }
    const int after = s->lines;
    pthread_mutex_unlock(&g_lock);
    log_changes(before, after);
    return result;
}

int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    resolve();
    const int r = real_ioctl(fd, req, arg);
    if (r == 0) return r;
    if (req != TIOCMGET && req != TIOCMSET && req != TIOCMBIS && req != TIOCMBIC &&
        req != TIOCGICOUNT)
        return r;
    const int e = errno;
    if ((e != EINVAL && e != ENOTTY) || !arg || !is_pty_slave(fd)) {
        errno = e;
        return r;
    }
    return emulate(fd, req, arg);
}

ssize_t write(int fd, const void* buf, size_t n) {
    resolve();
    const ssize_t r = real_write(fd, buf, n);
    if (r > 0) {
        pthread_mutex_lock(&g_lock);
        const int known = find_locked(fd, 0) != NULL;
        pthread_mutex_unlock(&g_lock);
        if (known) {
            char text[24];
            snprintf(text, sizeof text, "W%zd", r);
            log_line(text);
        }
    }
    return r;
}

int close(int fd) {
    resolve();
    pthread_mutex_lock(&g_lock);
    struct pty_state* s = find_locked(fd, 0);
    if (s) s->fd = -1;
    pthread_mutex_unlock(&g_lock);
    return real_close(fd);
}
