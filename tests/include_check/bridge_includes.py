#!/usr/bin/env python3
"""The program reaches the libraries through their public headers alone.

Sources under DIR may include quillan.h, gev_camera.h, find_xml_text.h, platform/... headers,
system headers and headers of DIR itself. Each --target-includes listing holds the include
directories of one target built from DIR (';'-separated): inside the repository and the build tree
only the public include directories and DIR may appear.

--expect-each-file-fails inverts the check for fixtures: every source and every listing must show
at least one forbidden include.
"""
import argparse
import os
import re
import sys

SOURCE_SUFFIXES = ('.h', '.hpp', '.inc', '.c', '.cc', '.cpp')
HEADER_SUFFIXES = ('.h', '.hpp', '.inc')
PUBLIC_HEADERS = {'quillan.h', 'gev_camera.h', 'find_xml_text.h'}
PUBLIC_INCLUDE_DIRS = ('gev/include', 'scanner_client/include', 'scanner_client/find_xml_text/include',
                       'platform/include')
INCLUDE = re.compile(r'^\s*#\s*include(?:_next)?\b\s*(.*)$')


def inside(path, directory):
    path, directory = os.path.realpath(path), os.path.realpath(directory)
    return path == directory or path.startswith(directory + os.sep)


def sources(directory):
    for parent, dirs, files in os.walk(directory):
        dirs.sort()
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.join(parent, name)


def repository_headers(repo, skip):
    """Relative paths of the repository's headers, leaving out build trees and skip."""
    found = []
    for parent, dirs, files in os.walk(repo):
        dirs[:] = [d for d in dirs if d != '.git' and not os.path.exists(os.path.join(parent, d, 'CMakeCache.txt'))
                   and not inside(os.path.join(parent, d), skip)]
        found += [os.path.relpath(os.path.join(parent, f), repo) for f in files if f.endswith(HEADER_SUFFIXES)]
    return found


class Checker:
    def __init__(self, repo, directory):
        self.repo = repo
        self.directory = directory
        self.headers = repository_headers(repo, directory)

    def allowed_everywhere(self, name):
        if name in PUBLIC_HEADERS:
            return True
        return name.startswith('platform/') and os.path.isfile(os.path.join(self.repo, 'platform/include', name))

    def repository_header(self, name):
        return any(h == name or h.endswith('/' + name) for h in self.headers)

    def own_header(self, source, name):
        for base in (os.path.dirname(source), self.directory):
            path = os.path.join(base, name)
            if os.path.isfile(path):
                return inside(path, self.directory)
        return False

    def problem(self, source, directive):
        """Why the include directive is forbidden, or None."""
        quoted = re.match(r'"([^"]+)"', directive)
        angled = re.match(r'<([^>]+)>', directive)
        if not quoted and not angled:
            return 'computed include'
        name = (quoted or angled).group(1)
        if '..' in name.split('/'):
            return 'path leaves its directory'
        if self.allowed_everywhere(name):
            return None
        if quoted:
            return None if self.own_header(source, name) else 'not a public or own header'
        return 'repository header through <>' if self.repository_header(name) else None

    def check(self, source):
        found = []
        with open(source, encoding='utf-8', errors='replace') as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if match:
                    why = self.problem(source, match.group(1).strip())
                    if why:
                        found.append(f'{os.path.relpath(source, self.repo)}:{number}: {why}: {line.strip()}')
        return found


def include_dir_problems(repo, directory, binary_dir, listing):
    """Why include directories of one target (a ';'-separated listing) are forbidden."""
    allowed = [directory, os.path.join(binary_dir, 'bridge')] + [os.path.join(repo, d) for d in PUBLIC_INCLUDE_DIRS]
    with open(listing, encoding='utf-8') as f:
        dirs = [d for d in f.read().strip().split(';') if d]
    target = os.path.splitext(os.path.basename(listing))[0]
    return [f'target {target}: internal include directory {d}' for d in dirs
            if (inside(d, repo) or inside(d, binary_dir)) and not any(inside(d, a) for a in allowed)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--repo', required=True)
    parser.add_argument('--binary-dir', required=True)
    parser.add_argument('--target-includes', action='append', default=[], metavar='LISTING')
    parser.add_argument('--expect-each-file-fails', action='store_true')
    parser.add_argument('directory')
    args = parser.parse_args()
    repo = os.path.realpath(args.repo)
    binary_dir = os.path.realpath(args.binary_dir)
    directory = os.path.realpath(args.directory)
    checker = Checker(repo, directory)
    items = [(os.path.relpath(source, repo), checker.check(source)) for source in sources(directory)]
    items += [(os.path.basename(listing), include_dir_problems(repo, directory, binary_dir, listing))
              for listing in args.target_includes]

    for name, found in items:
        print('\n'.join(found) if found else f'{name}: ok')
    if args.expect_each_file_fails:
        accepted = [name for name, found in items if not found]
        if not items or accepted:
            print('FAILED: accepted what it must reject: ' + (', '.join(accepted) or 'nothing given'))
            return 1
        print(f'ok: all {len(items)} rejected')
        return 0
    count = sum(len(found) for _, found in items)
    if count:
        print(f'FAILED: {count} forbidden includes or include directories')
        return 1
    print(f'ok: {len(items)} files and targets')
    return 0


if __name__ == '__main__':
    sys.exit(main())
