#!/usr/bin/env python3
"""Compiles one C or C++ source to a Windows CE ARM object.

usage: ce-cc.py <CE assembler> <compiler> <compiler arguments ... -o OBJECT -c SOURCE>

The ARM compiler writes ELF assembly; the CE assembler reads COFF. This runs
the compiler with -S, rewrites the ELF-only directives and section names
(below), and assembles the result into the object CMake asked for.
"""
import os
import re
import subprocess
import sys

# Directives with no meaning in a COFF object.
DROPPED = ('.eabi_attribute', '.type', '.size', '.fpu', '.arch', '.file', '.ident', '.hidden',
           '.cpu', '.local', '.protected', '.internal')

SECTION = re.compile(r'^\s*\.section\s+([^\s,]+)(.*)$')
COMDAT = re.compile(r',\s*%\w+\s*,\s*([^\s,]+)\s*,\s*comdat')


def section(name, rest):
    """The COFF section for an ELF section line, or None to drop it."""
    comdat = COMDAT.search(rest)
    if name.startswith('.note') or name.startswith('.comment'):
        return None
    if name.startswith('.ARM.'):
        raise SystemExit('ce-cc: unexpected section %s (unwind tables must be off)' % name)
    if name.startswith('.text'):
        base, flags = '.text', 'xr'
    elif name.startswith('.rodata') or name.startswith('.data.rel.ro'):
        base, flags = '.rdata', 'dr'
    elif name.startswith('.init_array'):
        return ['\t.section .ctors,"dw"']
    elif name.startswith('.bss'):
        base, flags = '.bss', 'b'
    elif name.startswith('.data'):
        base, flags = '.data', 'dw'
    else:
        raise SystemExit('ce-cc: unexpected section %s' % name)
    if comdat:
        # One copy of an inline function or template kept from all objects.
        return ['\t.section %s$%s,"%s"' % (base, comdat.group(1), flags), '\t.linkonce discard']
    if base == '.rdata':
        return ['\t.section .rdata,"dr"']
    return ['\t' + base]


def translate(lines):
    out = []
    for line in lines:
        stripped = line.strip()
        word = stripped.split(None, 1)[0] if stripped else ''
        if word in DROPPED:
            continue
        m = SECTION.match(line)
        if m:
            replaced = section(m.group(1), m.group(2))
            if replaced is None:  # notes come last, with nothing in them
                continue
            out.extend(replaced)
            continue
        if stripped == '.text.startup':
            out.append('\t.text')
            continue
        if word == '.weak':
            # COMDAT copies are weak in ELF; a PE weak external stays unresolved.
            out.append(line.replace('.weak', '.global', 1))
            continue
        out.append(line.replace('(target1)', ''))
    return out


def main(argv):
    assembler, compiler, args = argv[1], argv[2], argv[3:]
    obj = args[args.index('-o') + 1]
    asm = obj + '.s'
    compile_args = [a for a in args if a != '-c']
    compile_args[compile_args.index('-o') + 1] = asm
    subprocess.run([compiler, '-S'] + compile_args, check=True)
    with open(asm) as f:
        lines = f.read().split('\n')
    with open(asm, 'w') as f:
        f.write('\n'.join(translate(lines)))
    result = subprocess.run([assembler, '-o', obj, asm])
    if result.returncode == 0:
        os.remove(asm)
    return result.returncode


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except subprocess.CalledProcessError as error:
        sys.exit(error.returncode or 1)
