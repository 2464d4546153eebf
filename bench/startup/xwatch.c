/*
 * xwatch: starts a program and times its main window from the outside.
 *
 *   xwatch [-t TIMEOUT_MS] [-r RSS_DELAY_MS] TITLE PROGRAM [ARGS...]
 *
 * Prints one line:  mapped_ms=M paint_ms=P rss_kb=R
 *   M  time from just before fork+exec until a viewable window titled TITLE
 *      exists (a child of the root, or nested up to two levels below one);
 *   P  time until that window shows its first painted frame, that is until
 *      a row or a column of pixels through it differs from the root
 *      background colour that the unpainted window still shows (the X server
 *      must draw the root in one plain colour: run Xvfb with -br);
 *   R  VmRSS of the program RSS_DELAY_MS (default 2000) after the first paint.
 * Then it ends the program (only that process) and exits 0. On a timeout
 * (default 20000 ms), an early exit of the program or a failed exec it
 * prints the reason to stderr and exits 1.
 *
 * One X connection is opened before the program starts and kept for the
 * whole run: a fresh client per check (xdotool in a loop) costs tens of
 * milliseconds each and slows the very start-up it measures. The watcher
 * listens for structure changes on the root so it wakes up at once when a
 * window is mapped, and otherwise looks again every 2 ms.
 */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { POLL_MS = 2, NEST_DEPTH = 2 };

static pid_t g_child = -1;
static int g_xErrors = 0;

static double nowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

/* Windows come and go while we look at them: a request on a window that was
   just destroyed fails with BadWindow, which must not end the watcher. */
static int onXError(Display *dpy, XErrorEvent *ev)
{
    (void)dpy;
    (void)ev;
    ++g_xErrors;
    return 0;
}

static void stopChild(void)
{
    if (g_child <= 0)
        return;
    kill(g_child, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(g_child, NULL, WNOHANG) == g_child) {
            g_child = -1;
            return;
        }
        usleep(10000);
    }
    kill(g_child, SIGKILL);
    waitpid(g_child, NULL, 0);
    g_child = -1;
}

static void onSignal(int sig)
{
    if (g_child > 0)
        kill(g_child, SIGKILL);
    signal(sig, SIG_DFL);
    raise(sig);
}

static int fail(const char *what)
{
    fprintf(stderr, "xwatch: %s\n", what);
    stopChild();
    return 1;
}

/* True when the program is gone (exited or killed). */
static int childGone(void)
{
    int status;
    if (waitpid(g_child, &status, WNOHANG) == g_child) {
        g_child = -1;
        return 1;
    }
    return 0;
}

static int titleMatches(Display *dpy, Window w, const char *title, Atom netWmName, Atom utf8)
{
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = NULL;
    int match = 0;
    if (XGetWindowProperty(dpy, w, netWmName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success && data) {
        match = type == utf8 && format == 8 && strlen(title) == count
                && memcmp(data, title, count) == 0;
        XFree(data);
        if (match)
            return 1;
    }
    char *name = NULL;
    if (XFetchName(dpy, w, &name) && name) {
        match = strcmp(name, title) == 0;
        XFree(name);
    }
    return match;
}

/* Depth-first search below `parent` for a viewable window with the title. */
static Window findWindow(Display *dpy, Window parent, int depth, const char *title, Atom netWmName,
                         Atom utf8)
{
    Window rootRet, parentRet, *children = NULL;
    unsigned int n = 0;
    Window found = None;
    if (!XQueryTree(dpy, parent, &rootRet, &parentRet, &children, &n))
        return None;
    for (unsigned int i = n; i-- > 0 && found == None;) { /* topmost first */
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(dpy, children[i], &attrs) || attrs.map_state != IsViewable)
            continue;
        if (titleMatches(dpy, children[i], title, netWmName, utf8))
            found = children[i];
        else if (depth < NEST_DEPTH)
            found = findWindow(dpy, children[i], depth + 1, title, netWmName, utf8);
    }
    if (children)
        XFree(children);
    return found;
}

/* True once a pixel of the middle row or the middle column of `w` differs
   from `background`. False while the window is still unpainted or cannot be
   read (e.g. partly off-screen). */
static int isPainted(Display *dpy, Window w, unsigned long background)
{
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy, w, &attrs) || attrs.map_state != IsViewable
        || attrs.width < 1 || attrs.height < 1)
        return 0;
    int painted = 0;
    XImage *row = XGetImage(dpy, w, 0, attrs.height / 2, attrs.width, 1, AllPlanes, ZPixmap);
    if (row) {
        for (int x = 0; x < attrs.width && !painted; ++x)
            painted = XGetPixel(row, x, 0) != background;
        XDestroyImage(row);
    }
    if (painted)
        return 1;
    XImage *col = XGetImage(dpy, w, attrs.width / 2, 0, 1, attrs.height, AllPlanes, ZPixmap);
    if (col) {
        for (int y = 0; y < attrs.height && !painted; ++y)
            painted = XGetPixel(col, 0, y) != background;
        XDestroyImage(col);
    }
    return painted;
}

/* The colour an unpainted window shows: the root's, read where no program
   has a window yet (the top-left pixel, before the program starts). */
static unsigned long rootBackground(Display *dpy, Window root)
{
    unsigned long pixel = 0;
    XImage *img = XGetImage(dpy, root, 0, 0, 1, 1, AllPlanes, ZPixmap);
    if (img) {
        pixel = XGetPixel(img, 0, 0);
        XDestroyImage(img);
    }
    return pixel;
}

static long readRssKb(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    fclose(f);
    return kb;
}

/* Waits for the next X event or POLL_MS, whichever comes first, and drops
   the events: they only serve to wake us up early. */
static void waitAWhile(Display *dpy)
{
    if (!XPending(dpy)) {
        struct pollfd pfd = { ConnectionNumber(dpy), POLLIN, 0 };
        poll(&pfd, 1, POLL_MS);
    }
    while (XPending(dpy)) {
        XEvent ev;
        XNextEvent(dpy, &ev);
    }
}

static void usage(void)
{
    fprintf(stderr, "usage: xwatch [-t TIMEOUT_MS] [-r RSS_DELAY_MS] TITLE PROGRAM [ARGS...]\n");
}

int main(int argc, char **argv)
{
    double timeoutMs = 20000, rssDelayMs = 2000;
    int opt;
    while ((opt = getopt(argc, argv, "+t:r:h")) != -1) {
        switch (opt) {
        case 't': timeoutMs = atof(optarg); break;
        case 'r': rssDelayMs = atof(optarg); break;
        default: usage(); return 2;
        }
    }
    if (argc - optind < 2) {
        usage();
        return 2;
    }
    const char *title = argv[optind];
    char **program = argv + optind + 1;

    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "xwatch: cannot open display \"%s\"\n", XDisplayName(NULL));
        return 1;
    }
    fcntl(ConnectionNumber(dpy), F_SETFD, FD_CLOEXEC);
    XSetErrorHandler(onXError);
    Window root = DefaultRootWindow(dpy);
    Atom netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    unsigned long background = rootBackground(dpy, root);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XSync(dpy, False);

    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    signal(SIGHUP, onSignal);

    /* A close-on-exec pipe tells whether exec succeeded: it reads EOF when it
       did, and the child's errno when it did not. */
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return fail("pipe failed");
    const double start = nowMs();
    g_child = fork();
    if (g_child < 0)
        return fail("fork failed");
    if (g_child == 0) {
        close(pipeFds[0]);
        execvp(program[0], program);
        int err = errno;
        if (write(pipeFds[1], &err, sizeof err) < 0) {
        }
        _exit(127);
    }
    close(pipeFds[1]);
    int execErr = 0;
    ssize_t got = read(pipeFds[0], &execErr, sizeof execErr);
    close(pipeFds[0]);
    if (got > 0) {
        waitpid(g_child, NULL, 0);
        g_child = -1;
        fprintf(stderr, "xwatch: cannot run %s: %s\n", program[0], strerror(execErr));
        return 1;
    }

    Window win = None;
    double mapped = 0;
    while (win == None) {
        win = findWindow(dpy, root, 0, title, netWmName, utf8);
        mapped = nowMs() - start;
        if (win != None)
            break;
        if (childGone())
            return fail("the program ended before its window appeared");
        if (mapped > timeoutMs)
            return fail("timed out waiting for the window");
        waitAWhile(dpy);
    }

    double painted = 0;
    for (;;) {
        int done = isPainted(dpy, win, background);
        painted = nowMs() - start;
        if (done)
            break;
        if (childGone())
            return fail("the program ended before its window was painted");
        if (painted > timeoutMs)
            return fail("timed out waiting for the first paint");
        waitAWhile(dpy);
    }

    const double rssAt = start + painted + rssDelayMs;
    for (double now = nowMs(); now < rssAt; now = nowMs()) {
        if (childGone())
            return fail("the program ended before its memory was read");
        double left = rssAt - now;
        usleep((useconds_t)((left > 50 ? 50 : left) * 1000));
    }
    long rssKb = readRssKb(g_child);
    if (rssKb < 0)
        return fail("cannot read the program's memory");

    printf("mapped_ms=%.1f paint_ms=%.1f rss_kb=%ld\n", mapped, painted, rssKb);
    fflush(stdout);
    stopChild();
    XCloseDisplay(dpy);
    return 0;
}
