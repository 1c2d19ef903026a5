# The smallest i386 Linux program: exits with 32 through the 32-bit system
# call gate. A kernel without IA-32 emulation refuses to start it, and then
# it cannot run Wine's 32-bit loader either (tools/install-deps.sh and the
# Wine tests ask it first).
        .globl _start
_start:
        movl $1, %eax           # exit
        movl $32, %ebx          # status
        int $0x80
