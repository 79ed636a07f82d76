#!/usr/bin/env python3
"""CPU and memory of one 64 KiB update: qzflash on the virtual card against
flashrom's dummy programmer, side by side.

Both start from the same 128 KiB M25P10 contents and write the same 64 KiB
change (a BIOS image made for the card, then 64 KiB erased):

    qzflash  --virtual P --no-wait --yes --card 0 update new.rom
    flashrom -p dummy:bus=spi,emulate=M25P10.RES,image=chip.bin -w new.bin

The two commands alternate over --runs rounds; the medians of each one's
processor time (user and system, from the kernel's accounting of the child)
and peak resident memory are compared. Neither tool's waits are counted:
qzflash lets them pass in the virtual card's time (--no-wait), and flashrom,
whose delays spin on clock_gettime, runs with a preloaded clock that moves a
second on at every read and sleeps that return at once, so each of its waits
costs a clock read or two.

Needs flashrom (Debian's package), a C compiler for the clock shim, and a
qzflash built from a release tree:

    cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_TESTS=OFF
    cmake --build build/rel --target qzflash
    scripts/bench-flashrom.py [--runs 9] [--qzflash build/rel/linux/qzflash]

Exit status: 0 when every run wrote the chip as it should, 1 when one did
not or nothing could run, 2 on a bad argument.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGE = 65536
CHIP = 131072

PROFILE = ('card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=spi\n'
           'part M25P10 file=part.rom\n')

CLOCK_SHIM = r'''
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
static long long seconds;
int clock_gettime(clockid_t id, struct timespec* ts)
{
    static int (*real)(clockid_t, struct timespec*);
    if (!real)
        real = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, "clock_gettime");
    int rc = real(id, ts);
    ts->tv_sec += ++seconds;
    return rc;
}
int nanosleep(const struct timespec* req, struct timespec* rem)
{
    (void)req;
    if (rem)
        rem->tv_sec = rem->tv_nsec = 0;
    return 0;
}
int usleep(useconds_t us) { (void)us; return 0; }
unsigned int sleep(unsigned int s) { (void)s; return 0; }
'''


# Runs one command and prints its exit status, processor time (us) and peak
# resident memory (KiB). A small program of its own: a child forked from
# this interpreter would count the interpreter's memory as its own peak.
MEASURE = r'''
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        const char* errors = getenv("MEASURE_ERRORS");
        int err = errors ? open(errors, O_WRONLY | O_CREAT | O_TRUNC, 0644) : null;
        dup2(null, 0);
        dup2(null, 1);
        dup2(err < 0 ? null : err, 2);
        const char* preload = getenv("MEASURE_PRELOAD");
        if (preload)
            setenv("LD_PRELOAD", preload, 1);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return 1;
    long us = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
              usage.ru_stime.tv_usec;
    printf("%d %ld %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), us, usage.ru_maxrss);
    return 0;
}
'''


def child(measure, cmd, preload=None, errors=None):
    """(exit status, processor seconds, peak KiB) of one command; its
    standard error goes to the file `errors`, if given."""
    env = dict(os.environ)
    env.pop('LD_PRELOAD', None)
    if errors:
        env['MEASURE_ERRORS'] = errors
    if preload:
        env['MEASURE_PRELOAD'] = preload
    out = subprocess.run([measure] + cmd, env=env, capture_output=True, text=True).stdout.split()
    if len(out) != 3:
        return 1, 0.0, 0
    return int(out[0]), int(out[1]) * 1e-6, int(out[2])


def main():
    parser = argparse.ArgumentParser(description='qzflash against flashrom on one 64 KiB M25P10 update.')
    parser.add_argument('--runs', type=int, default=9, help='rounds of both commands (default 9)')
    parser.add_argument('--qzflash', default=os.path.join(ROOT, 'build', 'rel', 'linux', 'qzflash'))
    parser.add_argument('--flashrom', default='flashrom')
    args = parser.parse_args()
    if args.runs < 1:
        parser.error('--runs must be at least 1')
    args.qzflash = os.path.abspath(args.qzflash)
    flashrom = shutil.which(args.flashrom)
    compiler = shutil.which('cc')
    if not os.access(args.qzflash, os.X_OK) or not flashrom or not compiler:
        print('bench-flashrom: needs %s (a release build), flashrom and cc' % args.qzflash, file=sys.stderr)
        return 1

    work = tempfile.mkdtemp(prefix='bench-flashrom-')
    try:
        with open(os.path.join(work, 'clock.c'), 'w') as f:
            f.write(CLOCK_SHIM)
        with open(os.path.join(work, 'measure.c'), 'w') as f:
            f.write(MEASURE)
        shim = os.path.join(work, 'clock.so')
        measure = os.path.join(work, 'measure')
        if subprocess.run([compiler, '-shared', '-fPIC', '-O2', '-o', shim, os.path.join(work, 'clock.c'),
                           '-ldl']).returncode != 0 or \
                subprocess.run([compiler, '-O2', '-o', measure, os.path.join(work, 'measure.c')]).returncode != 0:
            print('bench-flashrom: cannot build the clock shim and the measuring program', file=sys.stderr)
            return 1

        # The card's BIOS as the virtual card makes it, saved by qzflash; the
        # new image is that one with its version and all but its first 1 KiB
        # changed.
        with open(os.path.join(work, 'P'), 'w') as f:
            f.write(PROFILE.replace('file=part.rom', 'file=part.rom image=04.34.20.19.00'))
        at = lambda name: os.path.join(work, name)
        status, _, _ = child(measure, [args.qzflash, '--virtual', at('P'), '--card', '0', 'save', at('old.rom')])
        if status != 0:
            print('bench-flashrom: qzflash cannot save the card\'s BIOS', file=sys.stderr)
            return 1
        with open(os.path.join(work, 'old.rom'), 'rb') as f:
            old = f.read()
        if len(old) != IMAGE:
            print('bench-flashrom: the saved BIOS is %d bytes, not %d' % (len(old), IMAGE), file=sys.stderr)
            return 1
        new = bytearray(old)
        rng = random.Random(16)
        for i in range(0x400, IMAGE):
            new[i] = rng.getrandbits(8)
        block = new.find(b'\xff\x7fNV')
        if block >= 0:
            new[block + 13] ^= 0x01
        new[IMAGE - 1] = (new[IMAGE - 1] - sum(new)) & 0xFF   # bytes summing to 0, as a BIOS image's do
        chip = old + b'\xff' * (CHIP - IMAGE)
        wanted = bytes(new) + b'\xff' * (CHIP - IMAGE)
        with open(os.path.join(work, 'P'), 'w') as f:
            f.write(PROFILE)
        with open(os.path.join(work, 'new.rom'), 'wb') as f:
            f.write(new)
        with open(os.path.join(work, 'new.bin'), 'wb') as f:
            f.write(wanted)

        commands = {
            'qzflash': ([args.qzflash, '--virtual', at('P'), '--no-wait', '--yes', '--card', '0', 'update',
                         at('new.rom')], 'part.rom', None),
            'flashrom': ([flashrom, '-p', 'dummy:bus=spi,emulate=M25P10.RES,image=' + at('chip.bin'), '-w',
                          at('new.bin')], 'chip.bin', shim),
        }
        cpu = {name: [] for name in commands}
        rss = {name: [] for name in commands}
        for run in range(args.runs):
            for name, (cmd, target, preload) in commands.items():
                with open(os.path.join(work, target), 'wb') as f:
                    f.write(chip)
                errors = os.path.join(work, 'errors.txt')
                status, seconds, peak = child(measure, cmd, preload, errors)
                with open(os.path.join(work, target), 'rb') as f:
                    written = f.read()
                if status != 0 or written != wanted:
                    print('bench-flashrom: %s run %d %s' % (name, run + 1,
                          'ended with status %d' % status if status else 'left the chip wrong'), file=sys.stderr)
                    with open(errors, errors='replace') as f:
                        sys.stderr.write(f.read()[-2000:])
                    return 1
                cpu[name].append(seconds)
                rss[name].append(peak)

        print('one 64 KiB update of an M25P10, %d runs each, alternating; medians' % args.runs)
        print('%-9s %10s %14s %12s' % ('', 'cpu ms', 'cpu ns/byte', 'peak RSS KiB'))
        for name in commands:
            ms = statistics.median(cpu[name]) * 1e3
            print('%-9s %10.1f %14.1f %12d' % (name, ms, ms * 1e6 / IMAGE, statistics.median(rss[name])))
        ratio = statistics.median(cpu['qzflash']) / statistics.median(cpu['flashrom'])
        print('cpu per byte, qzflash / flashrom: %.2f' % ratio)
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
