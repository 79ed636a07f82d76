#!/usr/bin/env python3
"""Mutation score of the native tests.

Applies one small source mutation at a time to a sample of sites in
flash/engine, flash/app, flash/hw and vcard/model (comparison and logic
operators flipped, a negation dropped, an integer constant moved by one, a
call statement removed, return true and false swapped), rebuilds a copy of
the native tree in a build folder of its own, runs the native tests and
prints each mutant's fate and the score:

    killed      a test failed (or timed out)
    survived    every test passed
    equivalent  survived, and listed below as behaving like the original
    no build    the mutant does not compile (left out of the score)

score = killed / (killed + survived), equivalents left out.

The sample is drawn with a fixed seed, in equal shares from the four
folders, so two runs of the same sources give the same mutants. The
repository's own files are never written: the sources are copied into
BUILD/src and mutated there.

Exit status: 0 when the score reaches --min-score, 1 when it does not or
when the unmutated tests fail or nothing could be run, 2 on a bad argument.

A developer tool; CI does not run it (about 11 minutes for 60 mutants on
two cores).
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ['flash/engine', 'flash/app', 'flash/hw', 'vcard/model']

# Mutants that cannot change behaviour, with the reason, by file, the line
# before the mutated one, the mutated line (both stripped) and the mutation.
# Kept short: a survivor that is not listed here counts against the score
# until a test kills it.
EQUIVALENT = {
    ('flash/engine/serial.cpp', 'CloseRomAccess();', 'return true;', 'return true -> false'):
        'the chip erases report success whatever happens; EraseFlash ignores the result',
    ('flash/hw/access.cpp', 'uint32_t result = 0;', 'uint32_t returned = 0;', '0 -> 1 at 25'):
        'the count of bytes a driver request returned is never looked at',
    ('flash/hw/access.cpp', 'uint32_t scratch = 0;', 'uint32_t returned = 0;', '0 -> 1 at 25'):
        'the count of bytes a driver request returned is never looked at',
    ('flash/hw/discovery.cpp', 'uint8_t bus = 0;', 'uint8_t devFn = 0;', '0 -> 1 at 29'):
        'read only after a successful find has set it',
    ('vcard/model/vcard.cpp', 'VcCard& card = machine->cards[index];', 'ClearCard(&card);', 'call removed'):
        'cards are added only to a machine reset before, where every card is clear already',
    ('vcard/model/flash_part_spi.cpp', 'default:', 'return false;', 'return false -> true'):
        'an opcode no family knows has no handler: taken or ignored, nothing follows from it',
    ('flash/engine/serial.cpp', '{', 'uint32_t value = 0;', '0 -> 1 at 22'):
        'eight shifts move the starting bit out of the byte returned',
    ('flash/app/select_card.cpp', 'const CardRecord& card = CardTable[index];', 'char device[9], vendor[9], bus[9];',
     '9 -> 8 at 17'): 'ids are 16 bits: four digits and the terminator',
    ('flash/app/select_card.cpp', 'const CardRecord& card = CardTable[index];', 'char device[9], vendor[9], bus[9];',
     '9 -> 8 at 28'): 'ids are 16 bits: four digits and the terminator',
    ('flash/app/select_card.cpp', 'const CardRecord& card = CardTable[index];', 'char device[9], vendor[9], bus[9];',
     '9 -> 8 at 36'): 'a bus number is 8 bits: two digits and the terminator',
    ('flash/app/select_card.cpp', 'static const char Digits[] = "0123456789ABCDEF";', 'char reversed[9];',
     '9 -> 8 at 19'): 'a 32-bit value has eight digits at most, and this buffer holds no terminator',
    ('vcard/model/flash_part.cpp', 'part->dataOut = true;', 'if (part->bus != VcBusSerial2) VcSpiSelect(part);',
     "'!=' -> '==' at 19"): 'selecting an SPI part changes nothing (the call is there for the command sets alike)',
    ('vcard/model/vcard.cpp', 'if (write) {', 'WriteWindow(machine, card, offset, size == 1 ? (value & 0xFF) : value, size);',
     '1 -> 2 at 52'): 'a byte write stores the low byte of the value, masked first or not',
    ('vcard/model/vcard.cpp', 'if (write) {', 'WriteWindow(machine, card, offset, size == 1 ? (value & 0xFF) : value, size);',
     '1 -> 0 at 52'): 'a byte write stores the low byte of the value, masked first or not',
    ('flash/app/main_window.cpp', 'UiMessageBox(0, "Error:GetCurrentProcess", "Error", UiMbOk);', 'uint64_t luid = 0;',
     '0 -> 1 at 21'): 'every SysLookupPrivilege sets the value before it is read',
    ('flash/hw/discovery.cpp', '{',
     'return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |', '1 -> 0 at 74'):
        'its one use keeps only the top byte of the window base',
    ('flash/app/select_card.cpp', 'const CardRecord& card = CardTable[index];', 'char device[9], vendor[9], bus[9];',
     '9 -> 10 at 36'): 'a larger buffer holds the same text',
    ('flash/app/commands.cpp', '// buffer bytes to be flashed.', 'uint32_t length = 0;', '0 -> 1 at 23'):
        'read only after ImageLengthFromHeader has set it',
    ('flash/hw/discovery.cpp', 'uint32_t linear = 0;', 'uint32_t returned = 0;', '0 -> 1 at 33'):
        'the count of bytes the map request returned is never looked at',
    ('flash/engine/image.cpp', 'uint16_t vendor = 0;', 'uint16_t device = 0;', '0 -> 1 at 23'):
        'ImagePciIds sets both ids before anything else',
    ('flash/engine/image.cpp', '{', 'uint16_t vendor = 0;', '0 -> 1 at 23'):
        'ImagePciIds sets both ids before anything else',
    ('flash/engine/serial.cpp', '{', 'OpenRomAccess();', 'call removed'):
        'the chip erases run inside EraseFlash, which has opened ROM access just before',
    ('flash/engine/parts.cpp', 'if (chip != nullptr && chip->StrapFlag != 0)',
     'result = (ReadReg32(StrapRegister) & 0x60000000u) >> 29;', '0x60000000 -> 0x60000001 at 46'):
        'the shift drops every bit below 29',
    ('vcard/model/vcard.cpp', 'const uint8_t* b = static_cast<const uint8_t*>(input);',
     'bus = static_cast<uint32_t>(b[0] | b[1] << 8);', '8 -> 9 at 52'):
        'any high byte gives a bus above 3 either way, and such requests are refused',
    ('vcard/model/vcard.cpp', 'const uint8_t* b = static_cast<const uint8_t*>(input);',
     'bus = static_cast<uint32_t>(b[0] | b[1] << 8);', '8 -> 7 at 52'):
        'any high byte gives a bus above 3 either way, and such requests are refused',
}


def equivalence(path, lines, no, what):
    before = next((lines[k].strip() for k in range(no - 1, -1, -1) if lines[k].strip()), '')
    return EQUIVALENT.get((path, before, lines[no].strip(), what))


KEYWORDS = {'return', 'if', 'while', 'for', 'switch', 'case', 'delete', 'sizeof', 'else', 'do',
            'static_assert', 'new', 'throw', 'goto', 'using', 'typedef'}
COMPARISON = {'==': '!=', '!=': '==', '<': '>=', '>=': '<', '>': '<=', '<=': '>'}


def mask_code(lines):
    """Each line with comments, string and character literals blanked out
    (same length), and preprocessor lines blanked whole."""
    masked = []
    in_block = False
    for line in lines:
        out = list(line)
        i = 0
        n = len(line)
        if not in_block and line.lstrip().startswith('#'):
            masked.append(' ' * n)
            continue
        while i < n:
            if in_block:
                end = line.find('*/', i)
                stop = n if end < 0 else end + 2
                for k in range(i, stop):
                    out[k] = ' '
                in_block = end < 0
                i = stop
                continue
            c = line[i]
            if line.startswith('//', i):
                for k in range(i, n):
                    out[k] = ' '
                break
            if line.startswith('/*', i):
                in_block = True
                continue
            if c in '"\'':
                k = i + 1
                while k < n and line[k] != c:
                    k += 2 if line[k] == '\\' else 1
                for j in range(i, min(k + 1, n)):
                    out[j] = ' '
                i = k + 1
                continue
            i += 1
        masked.append(''.join(out))
    return masked


def balanced(text):
    depth = 0
    for c in text:
        depth += c == '('
        depth -= c == ')'
        if depth < 0:
            return False
    return depth == 0


def sites_in(path):
    """Every mutation site of one file: (line index, start, end, replacement, description, kind)."""
    with open(os.path.join(ROOT, path), encoding='utf-8') as f:
        lines = f.read().split('\n')
    masked = mask_code(lines)
    found = []
    for no, code in enumerate(masked):
        # Rows of constant tables are data, checked by the tables' own tests
        # row by row; their numbers are left alone.
        if not code.strip() or re.match(r'^\s*\{.*\},?\s*$', code):
            continue
        for m in re.finditer(r'(?<=\s)(==|!=|<=|>=|<|>)(?=\s)', code):
            op = m.group(1)
            found.append((no, m.start(1), m.end(1), COMPARISON[op], "'%s' -> '%s' at %d" % (op, COMPARISON[op], m.start(1) + 1), 'comparison'))
        for m in re.finditer(r'(?<=\s)(&&|\|\|)(?=\s)', code):
            op = m.group(1)
            other = '||' if op == '&&' else '&&'
            found.append((no, m.start(1), m.end(1), other, "'%s' -> '%s' at %d" % (op, other, m.start(1) + 1), 'logic'))
        for m in re.finditer(r'!(?=[A-Za-z_(])', code):
            found.append((no, m.start(), m.end(), '', "'!' dropped at %d" % (m.start() + 1), 'logic'))
        for m in re.finditer(r'\breturn (true|false);', code):
            other = 'false' if m.group(1) == 'true' else 'true'
            found.append((no, m.start(1), m.end(1), other, 'return %s -> %s' % (m.group(1), other), 'return'))
        for m in re.finditer(r'(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])', code):
            text = m.group(1)
            value = int(text, 16) if text[:2].lower() == '0x' else int(text)
            for delta in (1, -1):
                if value + delta < 0:
                    continue
                new = ('0x%X' % (value + delta)) if text[:2].lower() == '0x' else str(value + delta)
                found.append((no, m.start(1), m.end(1), new, '%s -> %s at %d' % (text, new, m.start(1) + 1), 'constant'))
        call = re.match(r'^(\s*)((?:[A-Za-z_]\w*(?:::|\.|->))*([A-Za-z_]\w*)\s*\(.*\)\s*;)\s*$', code)
        if call and call.group(3) not in KEYWORDS and call.group(2).split('(')[0].strip() not in KEYWORDS \
                and balanced(call.group(2)):
            found.append((no, call.start(2), call.end(2), ';', 'call removed', 'call'))
    return lines, found


def source_files(folder):
    out = []
    for name in sorted(os.listdir(os.path.join(ROOT, folder))):
        if name.endswith('.cpp'):
            out.append(folder + '/' + name)
    return out


def sample(seed, count):
    rng = random.Random(seed)
    chosen = []
    share = [count // len(FOLDERS) + (1 if i < count % len(FOLDERS) else 0) for i in range(len(FOLDERS))]
    # Each folder's share goes round the kinds of mutation in turn, so that
    # the many constants do not crowd out the operators and calls.
    for folder, want in zip(FOLDERS, share):
        kinds = {}
        for path in source_files(folder):
            lines, found = sites_in(path)
            for site in found:
                kinds.setdefault(site[5], []).append((path, lines, site))
        groups = [kinds[k] for k in sorted(kinds)]
        for group in groups:
            rng.shuffle(group)
        taken = 0
        while taken < want and any(groups):
            for group in groups:
                if group and taken < want:
                    chosen.append(group.pop())
                    taken += 1
    return chosen


def run(cmd, cwd=None, timeout=None):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return 'timeout'


def write_whole(path, text):
    tmp = path + '.mutate-tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def sync_sources(src):
    """Copies the repository's files into src, rewriting only those that
    differ so that the build stays incremental."""
    top = subprocess.run(['git', 'rev-parse', '--show-toplevel'], cwd=ROOT, capture_output=True, text=True)
    git = subprocess.run(['git', 'ls-files', '--cached', '--others', '--exclude-standard'], cwd=ROOT,
                         capture_output=True, text=True)
    if top.returncode == 0 and os.path.realpath(top.stdout.strip()) == os.path.realpath(ROOT):
        listed = git.stdout.split('\n')
    else:   # an exported tree: everything but build folders
        listed = []
        for folder, dirs, files in os.walk(ROOT):
            dirs[:] = [d for d in dirs if d not in ('build', '.git')]
            listed += [os.path.relpath(os.path.join(folder, f), ROOT) for f in files]
    for rel in filter(None, listed):
        origin = os.path.join(ROOT, rel)
        if not os.path.isfile(origin):
            continue
        target = os.path.join(src, rel)
        with open(origin, 'rb') as f:
            data = f.read()
        if os.path.isfile(target):
            with open(target, 'rb') as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(origin, target)


def main():
    parser = argparse.ArgumentParser(description='Mutation score of the native tests.')
    parser.add_argument('--seed', type=int, default=16)
    parser.add_argument('--count', type=int, default=60, help='mutants to try (default 60)')
    parser.add_argument('--build', default=os.path.join(ROOT, 'build', 'mutate'), help='scratch folder')
    parser.add_argument('--jobs', type=int, default=2)
    parser.add_argument('--timeout', type=int, default=900, help='seconds for one test run')
    parser.add_argument('--min-score', type=float, default=90.0, help='percent (default 90)')
    parser.add_argument('--list', action='store_true', help='print the sampled mutants and stop')
    parser.add_argument('--only', type=int, action='append', default=[], help='run only mutant N (repeatable)')
    args = parser.parse_args()
    if args.count < 1 or args.jobs < 1 or args.timeout < 1 or not 0 <= args.min_score <= 100:
        parser.error('--count, --jobs and --timeout must be positive, --min-score 0..100')

    mutants = sample(args.seed, args.count)
    if any(n < 1 or n > len(mutants) for n in args.only):
        parser.error('--only takes a mutant number from 1 to %d' % len(mutants))

    def describe(index, path, lines, site):
        no, start, end, _, what, _ = site
        return '%3d  %s:%d  %s   | %s' % (index, path, no + 1, what, lines[no].strip())

    if args.list:
        for i, (path, lines, site) in enumerate(mutants, 1):
            print(describe(i, path, lines, site))
        return 0

    src = os.path.join(os.path.abspath(args.build), 'src')
    tree = os.path.join(os.path.abspath(args.build), 'build')
    os.makedirs(src, exist_ok=True)
    sync_sources(src)
    if run(['cmake', '-S', src, '-B', tree, '-G', 'Ninja', '-DQZ_WERROR=OFF']) != 0:
        print('mutate: cannot configure %s' % tree, file=sys.stderr)
        return 1
    build = ['cmake', '--build', tree, '-j', str(args.jobs)]
    tests = ['ctest', '--test-dir', tree, '-j', str(args.jobs), '--stop-on-failure', '--timeout', '300']
    if run(build) != 0 or run(tests, timeout=args.timeout) != 0:
        print('mutate: the unmutated tree does not build or its tests fail; nothing to measure', file=sys.stderr)
        return 1

    fates = {'killed': 0, 'survived': 0, 'equivalent': 0, 'no build': 0}
    survivors = []
    started = time.time()
    for i, (path, lines, site) in enumerate(mutants, 1):
        if args.only and i not in args.only:
            continue
        no, start, end, replacement, what, _ = site
        mutated = list(lines)
        mutated[no] = lines[no][:start] + replacement + lines[no][end:]
        target = os.path.join(src, path)
        original = '\n'.join(lines)
        write_whole(target, '\n'.join(mutated))
        try:
            if run(build) != 0:
                fate = 'no build'
            else:
                result = run(tests, timeout=args.timeout)
                if result != 0:
                    fate = 'killed'
                elif equivalence(path, lines, no, what):
                    fate = 'equivalent'
                else:
                    fate = 'survived'
        finally:
            write_whole(target, original)
        fates[fate] += 1
        if fate in ('survived', 'equivalent'):
            survivors.append((i, path, lines, site, fate))
        print('%-10s %s' % (fate, describe(i, path, lines, site)), flush=True)
    run(build)

    scored = fates['killed'] + fates['survived']
    if scored == 0:
        print('mutate: no mutant built and ran; no score', file=sys.stderr)
        return 1
    score = 100.0 * fates['killed'] / scored
    print()
    print('seed %d, %d mutants: %d killed, %d survived, %d equivalent, %d did not build (%.0f min)' %
          (args.seed, sum(fates.values()), fates['killed'], fates['survived'], fates['equivalent'],
           fates['no build'], (time.time() - started) / 60))
    print('score: %d of %d = %.1f%%' % (fates['killed'], scored, score))
    for i, path, lines, site, fate in survivors:
        reason = equivalence(path, lines, site[0], site[4]) or 'no test catches it'
        print('  %s: %s\n      %s' % (fate, describe(i, path, lines, site), reason))
    return 0 if score >= args.min_score else 1


if __name__ == '__main__':
    sys.exit(main())
