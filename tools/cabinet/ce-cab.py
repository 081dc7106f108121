#!/usr/bin/env python3
"""Makes Velloria.cab, the handheld's installation cabinet.

usage: ce-cab.py <out.cab> <provider> <program.exe>...

A CE 3.0 installation cabinet is an MS-CAB file (made here by gcab, stored:
the cabinets of CE 3.0's time are, and every device reads them)
whose files carry 8.3 names: each program under the number of its row in
FILES as its extension, and the installation header, which the device's
installer (wceload) reads, as the .000 file. What is installed where is the
table below; the maker's name is given (the build's ZK_MAKER). The programs
are found by name among the paths given.

The header's layout is header_layout.h's, beside this file, which the reader
follows too: a fixed part of 100 bytes, then the application's and the
maker's names, then the tables of strings, folders, files, registry hives,
registry keys and links, each at the offset the fixed part gives. Folders and
link names are lists of string ids ended by 0; a folder may begin with %CEn%,
one of the device's standard folders.

Every input is checked before anything is written; a header that would be
malformed stops the build with one "ce-cab:" line. The cabinet is the same
bytes for the same programs: fixed file times, no build paths.
"""
import os
import re
import subprocess
import sys
import tempfile

APP_NAME = 'Velloria'
ARCHITECTURE = 2577           # StrongARM, which the ARM devices of CE 3.0 accept
MIN_VERSION = (3, 0)          # no maximum
INSTALL_DIR = ('%CE1%', APP_NAME)   # \Program Files\Velloria

# The files, numbered from 1 in this order: installed name, folder.
FILES = [
    ('Velloria.exe', INSTALL_DIR),
    ('Tarquell.exe', INSTALL_DIR),
]
# The shortcuts: name (wceload adds .lnk), standard folder n of %CEn%, the
# installed file it starts.
LINKS = [
    ('Velloria', 11, 'Velloria.exe'),   # the Start menu's programs
    ('Tarquell', 4, 'Tarquell.exe'),    # \Windows\StartUp: runs after every reset
]

# The files' time in the cabinet, whatever the build's: 2026-01-01 00:00.
FILE_TIME = 1767225600

# gcab's options: without --zip, the files are stored.
GCAB_OPTIONS = ['--create', '--nopath']

FILE_FLAGS = 0x00000002       # not to be skipped by the user
MAX_APP_NAME, MAX_PROVIDER = 40, 30   # the installer's limits on the two names
STANDARD_FOLDERS = 17         # %CE1% to %CE17%
NAME_83 = re.compile(r"^[A-Za-z0-9_$~!#%&'(){}^@`-]{1,8}(\.[A-Za-z0-9_$~!#%&'(){}^@`-]{1,3})?$")


def fail(message):
    raise SystemExit('ce-cab: ' + message)


def read_layout():
    """Each part of the header as header_layout.h lays it out: (name, width, count) per field."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'header_layout.h')) as f:
        text = f.read()
    return {part: [(name, int(width), int(count))
                   for name, width, count in re.findall(r'\{"(\w+)", (\d+), (\d+)\}', body)]
            for part, body in re.findall(r'constexpr Field (k\w+)\[\] = \{(.*?)\};', text, re.S)}


LAYOUT = read_layout()


def pack(part, **values):
    """The fields of `part` packed in its order; a field not given is 0, one of
    several integers a list."""
    out = b''
    for name, width, count in LAYOUT[part]:
        given = values.pop(name, [0] * count)
        given = given if isinstance(given, list) else [given]
        assert len(given) == count, '%s.%s takes %d values' % (part, name, count)
        for value in given:
            out += value if isinstance(value, bytes) else value.to_bytes(width, 'little')
    assert not values, 'no such fields in %s: %s' % (part, ', '.join(values))
    return out


def checked_string(text, what, limit=0xFFFE):
    """The string's bytes with its end, once it is one the header can hold."""
    if not text:
        fail('%s is empty' % what)
    if any(not (0x20 <= ord(c) < 0x7F) for c in text):
        fail('%s "%s" is not printable ASCII' % (what, text))
    if len(text) > limit:
        fail('%s "%s" is %d characters, over the %d the installer takes' % (what, text, len(text), limit))
    return text.encode('ascii') + b'\0'


def checked_83(name, what):
    if not NAME_83.match(name):
        fail('%s "%s" is not an 8.3 name (at most 8 letters or digits, a dot, at most 3)' % (what, name))
    return name


class Strings:
    """The STRINGS table: each distinct string once, ids from 1 (0 ends a list)."""

    def __init__(self):
        self.ids = {}

    def id(self, text):
        if text not in self.ids:
            checked_string(text, 'the path part')
            if '\\' in text or text in ('.', '..') or any(c in text for c in '/:*?"<>|'):
                fail('the path part "%s" is not one folder or file name' % text)
            self.ids[text] = len(self.ids) + 1
        return self.ids[text]

    def table(self):
        return b''.join(pack('kString', id=i, length=len(t) + 1) + t.encode('ascii') + b'\0'
                        for t, i in self.ids.items())


def id_list(ids):
    return b''.join(i.to_bytes(2, 'little') for i in list(ids) + [0])


def header(provider):
    app = checked_string(APP_NAME, 'the application name', MAX_APP_NAME)
    maker = checked_string(provider, 'the maker\'s name (CompanyName)', MAX_PROVIDER)
    strings = Strings()
    dirs = {}       # folder -> id, from 1
    for _, folder in FILES:
        if not re.match(r'^%CE([1-9]|1[0-7])%$', folder[0]):
            fail('the folder %s does not begin with one of the device\'s standard folders' % '\\'.join(folder))
        dirs.setdefault(folder, len(dirs) + 1)
    dir_table = b''
    for folder, i in dirs.items():
        path_ids = id_list(strings.id(part) for part in folder)
        dir_table += pack('kDir', id=i, length=len(path_ids)) + path_ids
    numbers = {}
    file_table = b''
    for number, (name, folder) in enumerate(FILES, 1):
        checked_83(name, 'the installed name')
        if name.lower() in numbers:
            fail('%s is installed twice' % name)
        numbers[name.lower()] = number
        installed = checked_string(name, 'the installed name')
        file_table += pack('kFile', number=number, dir=dirs[folder], unknown=number, flags=FILE_FLAGS,
                           length=len(installed)) + installed
    link_table = b''
    for number, (name, folder, target) in enumerate(LINKS, 1):
        checked_83(name, 'the shortcut')
        if not 1 <= folder <= STANDARD_FOLDERS:
            fail('the shortcut %s is in %%CE%d%%, no standard folder' % (name, folder))
        if target.lower() not in numbers:
            fail('the shortcut %s starts %s, which is not installed' % (name, target))
        path_ids = id_list([strings.id(name)])
        link_table += pack('kLink', id=number, base=folder, target=numbers[target.lower()], type=1,
                           length=len(path_ids)) + path_ids
    string_table = strings.table()

    # The names, then the tables in the order the fixed part lists them; the
    # registry's tables are empty, at the place they would start.
    at = len(pack('kFixed'))
    app_at, maker_at = at, at + len(app)
    at = maker_at + len(maker)
    unsupported_at = at
    offsets = []
    for table in (string_table, dir_table, file_table, b'', b'', link_table):
        offsets.append(at)
        at += len(table)
    if at > 0xFFFF:
        fail('the header would be %d bytes, over the 65535 its name offsets reach' % at)
    fixed = pack('kFixed', signature=b'MSCE', length=at, unknown2=[0, 1], architecture=ARCHITECTURE,
                 minVersion=list(MIN_VERSION), counts=[len(strings.ids), len(dirs), len(FILES), 0, 0, len(LINKS)],
                 offsets=offsets, names=[app_at, len(app), maker_at, len(maker), unsupported_at, 0, 0, 0])
    return fixed + app + maker + string_table + dir_table + file_table + link_table


def cabinet_name(stem, number):
    """The 8.3 name a file has in the cabinet: its stem, its number."""
    return '%s.%03d' % (stem, number)


def main(argv):
    if len(argv) < 4:
        fail('usage: ce-cab.py <out.cab> <provider> <program.exe>...')
    out, provider, programs = argv[1], argv[2], argv[3:]
    given = {os.path.basename(p).lower(): p for p in programs}
    contents = [(cabinet_name(APP_NAME, 0), header(provider))]
    for number, (name, _) in enumerate(FILES, 1):
        path = given.get(name.lower())
        if path is None:
            fail('no %s among the programs given' % name)
        if not os.path.isfile(path):
            fail('%s is missing (%s); build it first' % (name, path))
        with open(path, 'rb') as f:
            contents.append((cabinet_name(os.path.splitext(name)[0], number), f.read()))
    if len({c[0].lower() for c in contents}) != len(contents):
        fail('two files would have one name in the cabinet')

    # The .000 file first, then the others by number, highest first, as the
    # installer expects them.
    order = [contents[0]] + sorted(contents[1:], key=lambda c: c[0][-3:], reverse=True)
    with tempfile.TemporaryDirectory() as stage:
        for name, data in order:
            with open(os.path.join(stage, name), 'wb') as f:
                f.write(data)
            os.chmod(os.path.join(stage, name), 0o644)
            os.utime(os.path.join(stage, name), (FILE_TIME, FILE_TIME))
        made = os.path.join(stage, 'out.cab')
        # gcab writes the files' times as local time: the same everywhere in UTC.
        env = dict(os.environ, TZ='UTC')
        try:
            subprocess.run(['gcab'] + GCAB_OPTIONS + [made] + [n for n, _ in order],
                           cwd=stage, env=env, check=True)
        except FileNotFoundError:
            fail('gcab is missing (scripts/setup.sh installs it)')
        except subprocess.CalledProcessError as e:
            fail('gcab failed with status %d' % e.returncode)
        with open(made, 'rb') as f:
            cab = f.read()
    with open(out + '.tmp', 'wb') as f:
        f.write(cab)
    os.replace(out + '.tmp', out)


if __name__ == '__main__':
    main(sys.argv)
