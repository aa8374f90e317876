/* Tells whether this machine can run 32-bit x86 code at all: 32-bit Wine needs the kernel to
 * start 32-bit ELF programs, and Wine's WoW64 mode needs the 32-bit user code segment. Some
 * hypervisors turn both off ("IA-32 emulation off"). The probe jumps into a two-byte 32-bit
 * loop through that segment: an alarm means the code ran, a fault means it was refused.
 * Exit status 0: 32-bit code runs; 1: refused (a line on stdout says so). Host program,
 * x86-64 only. */
#include <signal.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#define USER32_CS 0x23

/* SIGALRM: the loop ran; any other: the jump faulted. */
static void on_signal(int sig) {
    static const char ok[] = "32-bit x86 code runs\n",
                      no[] = "this kernel refuses 32-bit x86 code (IA-32 emulation is off)\n";
    if (sig == SIGALRM) write(1, ok, sizeof ok - 1);
    else write(1, no, sizeof no - 1);
    _exit(sig != SIGALRM);
}

int main(void) {
    /* The loop's page, and above it the handler's stack: both below 4 GiB, for a signal that
       arrives while the CPU runs the 32-bit loop cannot be delivered on the usual stack above
       it, and the kernel would kill the probe instead of reporting that the code ran. */
    unsigned char *code = mmap((void *)0x100000, 4096 + 65536, PROT_READ | PROT_WRITE | PROT_EXEC,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (code == MAP_FAILED) return 2;
    code[0] = 0xEB; /* jmp $ */
    code[1] = 0xFE;
    stack_t ss = {.ss_sp = code + 4096, .ss_size = 65536};
    struct sigaction sa = {.sa_handler = on_signal, .sa_flags = SA_ONSTACK};
    if (sigaltstack(&ss, 0)) return 2;
    for (int i = 0; i < 3; i++) sigaction((const int[]){SIGALRM, SIGSEGV, SIGBUS}[i], &sa, 0);
    alarm(1);
    struct __attribute__((packed)) { uint32_t offset; uint16_t selector; } target = {0x100000, USER32_CS};
    __asm__ volatile("ljmpl *%0" ::"m"(target));
    return 2;
}
