#!/usr/bin/env python3
"""Writes the Linux runtime's type description of an IDL library.

    idl_typedesc.py INPUT.idl OUTPUT.typedesc

The Windows build compiles the IDL with widl into a binary type library; the
Linux runtime reads the text form documented in
platform/posix/include/albumrt/typedesc.h. This turns the one into the other
for the part of IDL that a dual automation interface and its coclass use.
Anything else is refused with its line, so the two type libraries cannot
silently differ: widen the script when the IDL needs more.
"""

import re
import sys


class IdlError(Exception):
    pass


TOKEN = re.compile(r'\s+|//[^\n]*|/\*.*?\*/|"(?:[^"\\\n]|\\.)*"|[A-Za-z0-9_.]+|[\[\](){};,:*\-=]', re.S)

# IDL base types and the type description's names for them. Interface
# pointers take one '*' of their own.
TYPES = {
    'BSTR': 'BSTR', 'VARIANT': 'VARIANT', 'VARIANT_BOOL': 'BOOL', 'DATE': 'DATE',
    'CURRENCY': 'CY', 'CY': 'CY', 'SCODE': 'ERROR',
    'char': 'I1', 'CHAR': 'I1', 'short': 'I2', 'SHORT': 'I2', 'long': 'I4', 'LONG': 'I4',
    'hyper': 'I8', 'LONGLONG': 'I8', 'int': 'INT', 'INT': 'INT',
    'byte': 'UI1', 'BYTE': 'UI1', 'unsigned char': 'UI1', 'unsigned short': 'UI2', 'USHORT': 'UI2',
    'unsigned long': 'UI4', 'ULONG': 'UI4', 'unsigned hyper': 'UI8', 'ULONGLONG': 'UI8',
    'unsigned int': 'UINT', 'UINT': 'UINT', 'float': 'R4', 'FLOAT': 'R4', 'double': 'R8', 'DOUBLE': 'R8',
}
INTERFACE_TYPES = {'IDispatch': 'DISPATCH', 'IUnknown': 'UNKNOWN'}

LIBRARY_FLAGS = ('restricted', 'control', 'hidden')
INTERFACE_FLAGS = ('dual', 'oleautomation', 'hidden', 'nonextensible', 'restricted')
COCLASS_FLAGS = ('noncreatable', 'appobject', 'control', 'hidden', 'licensed', 'aggregatable', 'restricted')
MEMBER_KINDS = ('propget', 'propput', 'propputref')
PARAM_FLAGS = {'in': 'in', 'out': 'out', 'retval': 'retval', 'optional': 'opt', 'lcid': 'lcid'}
IMPLEMENTS_FLAGS = ('default', 'source', 'restricted')

GUID = re.compile(r'^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$')


def tokenize(text):
    tokens, pos, line = [], 0, 1
    while pos < len(text):
        match = TOKEN.match(text, pos)
        if not match:
            raise IdlError(f'line {line}: unexpected character {text[pos]!r}')
        value = match.group(0)
        if not (value[0].isspace() or value.startswith('//') or value.startswith('/*')):
            tokens.append((value, line))
        line += value.count('\n')
        pos = match.end()
    return tokens


STRING = re.compile(r'"(?:[^"\\\n]|\\.)*"')


def unquote(token, line):
    if not STRING.fullmatch(token):
        raise IdlError(f'line {line}: expected a string, found {token!r}')
    out, chars = [], iter(token[1:-1])
    for c in chars:
        if c == '\\':
            c = next(chars)
            if c not in '"\\n':
                raise IdlError(f'line {line}: escape \\{c} is not supported')
            c = '\n' if c == 'n' else c
        out.append(c)
    return ''.join(out)


def quote(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"').replace('\n', '\\n') + '"'


class Parser:
    def __init__(self, text):
        self.tokens = tokenize(text)
        self.pos = 0

    def line(self):
        return self.tokens[min(self.pos, len(self.tokens) - 1)][1] if self.tokens else 1

    def fail(self, message):
        raise IdlError(f'line {self.line()}: {message}')

    def peek(self):
        return self.tokens[self.pos][0] if self.pos < len(self.tokens) else None

    def take(self, expected=None):
        token = self.peek()
        if token is None:
            self.fail('unexpected end of file')
        if expected is not None and token != expected:
            self.fail(f'expected {expected!r}, found {token!r}')
        self.pos += 1
        return token

    def name(self):
        token = self.take()
        if not re.match(r'^[A-Za-z_][A-Za-z0-9_]*$', token):
            self.fail(f'expected a name, found {token!r}')
        return token

    def attributes(self):
        """[a, b(x), c("text")] as {name: argument text or None}, in order."""
        attrs = {}
        if self.peek() != '[':
            return attrs
        self.take('[')
        while True:
            name = self.name()
            argument = None
            if self.peek() == '(':
                self.take('(')
                parts = []
                while self.peek() != ')':
                    parts.append(self.take())
                self.take(')')
                argument = ''.join(parts)
            if name in attrs:
                self.fail(f'attribute {name} is given twice')
            attrs[name] = argument
            if self.take() == ']':
                return attrs
            self.pos -= 1
            self.take(',')


def check_attributes(attrs, allowed, what, line):
    for name in attrs:
        if name not in allowed:
            raise IdlError(f'line {line}: attribute {name} of {what} is not supported by the type description')


def guid(attrs, what, line):
    value = attrs.get('uuid')
    if value is None or not GUID.match(value):
        raise IdlError(f'line {line}: {what} needs uuid(<guid>)')
    return value.upper()


def number(text, line):
    try:
        return int(text, 0)
    except (TypeError, ValueError):
        raise IdlError(f'line {line}: {text!r} is not a number') from None


def param_type(words, line):
    """BSTR, BSTR *, unsigned long, IDispatch * ... as the description's type."""
    first = words.index('*') if '*' in words else len(words)
    base, stars = ' '.join(words[:first]), len(words) - first
    if any(word != '*' for word in words[first:]):
        raise IdlError(f'line {line}: type {" ".join(words)} is not supported')
    if base in INTERFACE_TYPES:
        name, stars = INTERFACE_TYPES[base], stars - 1
    elif base in TYPES:
        name = TYPES[base]
    else:
        raise IdlError(f'line {line}: type {base} is not supported by the type description')
    if stars not in (0, 1):
        raise IdlError(f'line {line}: type {" ".join(words)} is not supported by the type description')
    return name + '*' * stars


def parse_param(p, kind, is_last):
    line = p.line()
    attrs = p.attributes()
    check_attributes(attrs, PARAM_FLAGS, 'a parameter', line)
    words = []
    while p.peek() not in (',', ')'):
        words.append(p.take())
    if not words:
        p.fail('expected a parameter')
    # The last word names the parameter unless the words are a type on their
    # own ("BSTR", "unsigned long", "IDispatch *").
    name = None
    if len(words) > 1 and words[-1] != '*' and ' '.join(words) not in TYPES:
        name, words = words[-1], words[:-1]
    if name is None:
        if not (is_last and kind in ('propput', 'propputref')):
            raise IdlError(f'line {line}: only the value of a property put may be unnamed')
        name = '-'
    flags = [PARAM_FLAGS[a] for a in PARAM_FLAGS if a in attrs]
    return {'name': name, 'type': param_type(words, line), 'flags': flags}


def parse_member(p):
    line = p.line()
    attrs = p.attributes()
    check_attributes(attrs, ('id', 'helpstring') + MEMBER_KINDS, 'a member', line)
    kinds = [k for k in MEMBER_KINDS if k in attrs]
    if len(kinds) > 1:
        p.fail('a member has one of propget, propput and propputref')
    if 'id' not in attrs:
        p.fail('every member needs id(<dispid>)')
    kind = kinds[0] if kinds else 'method'
    p.take('HRESULT')
    name = p.name()
    p.take('(')
    params = []
    if p.peek() == 'void':
        p.take('void')
    while p.peek() != ')':
        start = p.pos
        depth = 0
        while not (depth == 0 and p.peek() in (',', ')')):
            depth += {'[': 1, ']': -1}.get(p.take(), 0)
        is_last = p.peek() == ')'
        p.pos = start
        params.append(parse_param(p, kind, is_last))
        if p.peek() == ',':
            p.take(',')
    p.take(')')
    p.take(';')
    help_text = unquote(attrs['helpstring'], line) if 'helpstring' in attrs else None
    return {'kind': kind, 'dispid': number(attrs['id'], line), 'name': name, 'help': help_text, 'params': params}


def parse_interface(p, attrs, line):
    check_attributes(attrs, ('object', 'uuid', 'helpstring', 'helpcontext', 'pointer_default') + INTERFACE_FLAGS,
                     'an interface', line)
    p.take('interface')
    name = p.name()
    p.take(':')
    base = p.name()
    if base not in INTERFACE_TYPES:
        p.fail(f'interface {name} must derive from IDispatch or IUnknown')
    p.take('{')
    members = []
    while p.peek() != '}':
        members.append(parse_member(p))
    p.take('}')
    if p.peek() == ';':
        p.take(';')
    flags = [f for f in INTERFACE_FLAGS if f in attrs]
    if base == 'IDispatch':
        flags.insert(flags.index('oleautomation') + 1 if 'oleautomation' in flags else len(flags), 'dispatchable')
    return {'keyword': 'interface', 'name': name, 'uuid': guid(attrs, f'interface {name}', line),
            'help': attrs.get('helpstring'), 'helpcontext': attrs.get('helpcontext'), 'flags': flags,
            'base': base, 'members': members, 'line': line}


def parse_coclass(p, attrs, line):
    check_attributes(attrs, ('uuid', 'helpstring', 'helpcontext') + COCLASS_FLAGS, 'a coclass', line)
    p.take('coclass')
    name = p.name()
    p.take('{')
    implements = []
    while p.peek() != '}':
        impl_line = p.line()
        impl_attrs = p.attributes()
        check_attributes(impl_attrs, IMPLEMENTS_FLAGS, 'an implemented interface', impl_line)
        p.take('interface')
        implements.append((p.name(), [f for f in IMPLEMENTS_FLAGS if f in impl_attrs], impl_line))
        p.take(';')
    p.take('}')
    if p.peek() == ';':
        p.take(';')
    return {'keyword': 'coclass', 'name': name, 'uuid': guid(attrs, f'coclass {name}', line),
            'help': attrs.get('helpstring'), 'helpcontext': attrs.get('helpcontext'),
            'flags': [f for f in COCLASS_FLAGS if f in attrs], 'implements': implements}


def parse(text):
    p = Parser(text)
    library = None
    while p.peek() is not None:
        if p.peek() == 'import':
            p.take('import')
            unquote(p.take(), p.line())
            p.take(';')
            continue
        line = p.line()
        attrs = p.attributes()
        if p.peek() != 'library' or library is not None:
            p.fail('expected one library block (interfaces belong inside it)')
        check_attributes(attrs, ('uuid', 'version', 'helpstring', 'lcid', 'helpfile', 'helpcontext')
                         + LIBRARY_FLAGS, 'the library', line)
        p.take('library')
        library = {'name': p.name(), 'uuid': guid(attrs, 'the library', line), 'attrs': attrs,
                   'importlibs': [], 'types': []}
        if not re.match(r'^\d+\.\d+$', attrs.get('version') or ''):
            p.fail('the library needs version(<major>.<minor>)')
        p.take('{')
        while p.peek() != '}':
            if p.peek() == 'importlib':
                p.take('importlib')
                p.take('(')
                library['importlibs'].append(unquote(p.take(), p.line()))
                p.take(')')
                p.take(';')
                continue
            type_line = p.line()
            type_attrs = p.attributes()
            if p.peek() == 'interface':
                library['types'].append(parse_interface(p, type_attrs, type_line))
            elif p.peek() == 'coclass':
                library['types'].append(parse_coclass(p, type_attrs, type_line))
            elif p.peek() is None:
                p.fail('unexpected end of file')
            else:
                p.fail(f'{p.peek()!r} is not supported inside the library')
        p.take('}')
        if p.peek() == ';':
            p.take(';')
    if library is None:
        raise IdlError('no library block')
    interfaces = {t['name'] for t in library['types'] if t['keyword'] == 'interface'}
    for t in library['types']:
        for implemented, _, line in t.get('implements', []):
            if implemented not in interfaces:
                raise IdlError(f'line {line}: {implemented} is not an interface of this library')
    return library


def write(library, source_name):
    attrs = library['attrs']
    out = [f'# Generated from {source_name} at build time; edit the IDL, not this file.',
           f'library {library["name"]}', f'  uuid {library["uuid"]}', f'  version {attrs["version"]}',
           f'  lcid {number(attrs.get("lcid") or "0", 0)}']
    if attrs.get('helpstring') is not None:
        out.append(f'  helpstring {quote(unquote(attrs["helpstring"], 0))}')
    if attrs.get('helpfile') is not None:
        out.append(f'  helpfile {quote(unquote(attrs["helpfile"], 0))}')
    if attrs.get('helpcontext') is not None:
        out.append(f'  helpcontext {number(attrs["helpcontext"], 0)}')
    # widl marks every type library it writes as having a disk image.
    out.append('  flags ' + ' '.join([f for f in LIBRARY_FLAGS if f in attrs] + ['hasdiskimage']))
    out += [f'  importlib {quote(name)}' for name in library['importlibs']]
    for t in library['types']:
        out += ['', f'{t["keyword"]} {t["name"]}', f'  uuid {t["uuid"]}']
        if t['help'] is not None:
            out.append(f'  helpstring {quote(unquote(t["help"], 0))}')
        if t['helpcontext'] is not None:
            out.append(f'  helpcontext {number(t["helpcontext"], 0)}')
        if t['flags']:
            out.append('  flags ' + ' '.join(t['flags']))
        if t['keyword'] == 'interface':
            out.append(f'  base {t["base"]}')
            for m in t['members']:
                head = f'  {m["kind"]} {m["dispid"]} {m["name"]}'
                out.append(head + (f' {quote(m["help"])}' if m['help'] is not None else ''))
                for param in m['params']:
                    out.append('    ' + ' '.join(['param', param['name'], param['type']] + param['flags']))
        else:
            for name, flags, _ in t['implements']:
                out.append('  ' + ' '.join(['implements', name] + flags))
        out.append('end')
    return '\n'.join(out) + '\n'


def main(argv):
    if len(argv) != 3:
        sys.stderr.write('usage: idl_typedesc.py INPUT.idl OUTPUT.typedesc\n')
        return 2
    source = argv[1]
    try:
        with open(source, encoding='utf-8') as f:
            text = write(parse(f.read()), source.replace('\\', '/').rsplit('/', 1)[-1])
    except IdlError as error:
        sys.stderr.write(f'{source}: {error}\n')
        return 1
    with open(argv[2], 'w', encoding='utf-8', newline='\n') as f:
        f.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
