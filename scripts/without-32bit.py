#!/usr/bin/env python3
"""Runs a command as on a machine whose kernel cannot execute 32-bit x86 code:
   scripts/without-32bit.py COMMAND [ARGS...]
A seccomp filter on the command and everything it starts ends any process at
its first system call made through the 32-bit ABI, so Wine's 32-bit loader
fails and WOW64 cannot run, as there. Used to try the x64-only path of the
test and demo commands on a machine that could run 32-bit code, for example
   TAMSEL_BUILD_DIR=$PWD/build-no32 scripts/without-32bit.py scripts/test.sh"""
import ctypes, os, struct, sys

PR_SET_NO_NEW_PRIVS = 38
PR_SET_SECCOMP = 22
SECCOMP_MODE_FILTER = 2
AUDIT_ARCH_X86_64 = 0xC000003E
SECCOMP_RET_ALLOW = 0x7FFF0000
SECCOMP_RET_KILL_PROCESS = 0x80000000
BPF_LD_W_ABS = 0x20
BPF_JEQ_K = 0x15
BPF_RET_K = 0x06

def insn(code, jt, jf, k):
    return struct.pack("HBBI", code, jt, jf, k)

prog = b"".join([
    insn(BPF_LD_W_ABS, 0, 0, 4),  # seccomp_data.arch
    insn(BPF_JEQ_K, 1, 0, AUDIT_ARCH_X86_64),
    insn(BPF_RET_K, 0, 0, SECCOMP_RET_KILL_PROCESS),
    insn(BPF_RET_K, 0, 0, SECCOMP_RET_ALLOW),
])

class SockFprog(ctypes.Structure):
    _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_char_p)]

if len(sys.argv) < 2:
    sys.exit(__doc__)
libc = ctypes.CDLL(None, use_errno=True)
libc.prctl.argtypes = [ctypes.c_int, ctypes.c_ulong, ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
fprog = SockFprog(len(prog) // 8, prog)
if libc.prctl(PR_SET_NO_NEW_PRIVS, 1, None, 0, 0) != 0:
    sys.exit("no_new_privs: " + os.strerror(ctypes.get_errno()))
if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.cast(ctypes.pointer(fprog), ctypes.c_void_p), 0, 0) != 0:
    sys.exit("seccomp: " + os.strerror(ctypes.get_errno()))
os.execvp(sys.argv[1], sys.argv[1:])
