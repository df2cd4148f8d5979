#!/usr/bin/env python3
"""Static checks of the VB files shipped to Windows users, which can't be
compiled here. All files given are read as one project: the public names of
the .bas modules are visible everywhere.

Every file: ASCII with CRLF line endings (the VB6 IDE refuses LF, the VBA
editor imports it wrongly). .bas/.cls/.frm: Option Explicit; balanced
Sub/Function/Property/If/For/Do/While/With/Select/Type/Enum blocks and #If
branches; ONDRIX names (ox*, Ondrix*) declared where they are used; calls of
ONDRIX functions and helpers with the right number of arguments; an Exit
in every loop of capture calls; no LongPtr/PtrSafe/LongLong where VB6
compiles, PtrSafe on every Declare where VBA7 does. Each check runs for
VB6, 32-bit VBA7 and 64-bit VBA7, with the #If branches those take. The
Declares of ONDRIX.dll must match the export table and the record Types
their sizes. The loader: OxSentence says what
ondrix.h says, Npcap's folder is tried first, and the older DLL search is
chosen by ondrix.h's condition. .vbp: the files it names exist.

  check_vb_module.py FILE...
  check_vb_module.py --expect-failures DIR LIBRARY.bas
      each DIR/* must fail, together with LIBRARY, with the reason its first
      line names: ' expect: <text>. A fixture named *.lf is checked as a copy
      with LF line endings.
  check_vb_module.py --snippets LIBRARY.bas DOC.md...
      every ```vb or ```vba block of each Markdown file, checked with LIBRARY
      as a module of its own named after the file and the block's line. A
      block with no Sub or Function line is a fragment: it is wrapped in a
      Sub as it stands. Option Explicit is added, so a block may use only the
      ONDRIX names LIBRARY declares. Line numbers are the Markdown file's."""
import os
import re
import shutil
import sys
import tempfile

EXPORTS = {  # name: (argument bytes on 32-bit, returns a string)
    "OndrixInit": (0, False), "oxGetAdapterInfo": (8, False), "OndrixTerminate": (0, False),
    "oxSetCurrentAdapter": (4, False), "oxGetCurrentAdapter": (0, False), "oxBegin": (4, False),
    "oxEnd": (0, False), "oxCaptureMem": (8, False), "oxCaptureMemSafe": (4, False),
    "oxSetKernelBuffSize": (4, False), "oxGetErrorDescription": (0, True), "oxCaptureDiskSafe": (4, False),
    "oxSetParam": (8, False), "oxSendPacket": (4, False), "oxCapture": (8, False),
    "oxGetAdapterInfoVB5": (12, False), "oxGetStats": (4, False),
    "oxGetAdapterDetails": (8, False), "oxFindAdapter": (4, False), "oxDecodePacket": (4, False),
    "oxGetPacketTime": (4, False), "oxDecodeName": (4, False),
}
TYPE_SIZES = {"AdapterInfoRecord": 516, "PacketHeaderRecord": 24, "CaptureStatsRecord": 12,
              "AdapterDetailsRecord": 360, "PacketSummaryRecord": 156,
              "PacketTimeRecord": 24, "PacketNameRecord": 264}
CONFIGS = {"VB6": {"win32": -1}, "VBA7 32-bit": {"vba7": -1, "win32": -1},
           "VBA7 64-bit": {"vba7": -1, "win32": -1, "win64": -1}}
INCLUDE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "include")
# The loader and its sentences, which ondrix.bas must match.
LOADER_HEADERS = ("ondrix_load.h", "ondrix_load_messages.h")
LITERAL = re.compile(r'"((?:[^"]|"")*)"')
ONDRIX_NAME = re.compile(r"(?i)(ox|ondrix)[a-z0-9_]*$")
TOKEN = re.compile(r'"(?:[^"]|"")*"|&[HO][0-9A-F]+&?|\d[\w.]*|[A-Za-z_]\w*[$%&!#@]?|:=|<>|<=|>=|\S', re.I)
MODIFIERS = ("public", "private", "friend", "static", "global")
OPENERS = {"sub": "sub", "function": "function", "property": "property", "for": "for", "do": "do",
           "while": "while", "with": "with", "select": "select", "type": "type", "enum": "enum"}
CLOSERS = {"loop": "do", "wend": "while"}
CAPTURE_CALLS = {"oxcapture", "oxcapturemem", "oxcapturememsafe", "oxcapturedisksafe"}


def code_lines(raw):
    """(line number, text) of the logical lines: continuations joined,
    comments dropped."""
    out, pending, first = [], "", 0
    for n, line in enumerate(raw.split("\r\n"), 1):
        if not pending:
            first = n
        if line.endswith(" _"):
            pending += line[:-1]
            continue
        line, pending = pending + line, ""
        text, i, in_str = [], 0, False
        while i < len(line):
            c = line[i]
            if c == '"':
                in_str = not in_str
            elif c == "'" and not in_str:
                break
            text.append(c)
            i += 1
        s = "".join(text).strip()
        if re.match(r"(?i)rem(\s|$)", s):
            s = ""
        out.append((first, s))
    return out


def split_statements(s):
    """Statements of a line, split at ':' (not ':=', not in strings)."""
    pieces, start, in_str = [], 0, False
    for i, c in enumerate(s):
        if c == '"':
            in_str = not in_str
        elif c == ":" and not in_str and s[i + 1:i + 2] != "=":
            pieces.append(s[start:i])
            start = i + 1
    return [p.strip() for p in pieces + [s[start:]] if p.strip()]


def top_level_args(tokens):
    """Arguments in a token list, split at commas outside parentheses."""
    args, depth, current = [], 0, []
    for t in tokens:
        if t == "(":
            depth += 1
        elif t == ")":
            depth -= 1
        if t == "," and depth == 0:
            args.append(current)
            current = []
        else:
            current.append(t)
    if current or args:
        args.append(current)
    return args


def matching(tokens, i):
    """Index of the ')' that closes tokens[i] == '('."""
    depth = 0
    for j in range(i, len(tokens)):
        depth += {"(": 1, ")": -1}.get(tokens[j], 0)
        if depth == 0:
            return j
    return len(tokens)


def params(text):
    """(required, most) arguments of a parameter list, most None for ParamArray."""
    args = [a for a in top_level_args(TOKEN.findall(text)) if a]
    required = sum(1 for a in args if a[0].lower() not in ("optional", "paramarray"))
    return required, None if any(a[0].lower() == "paramarray" for a in args) else len(args)


def bare(name):
    return name.rstrip("$%&!#@").lower()


class File:
    def __init__(self, path, errors):
        self.path, self.name = path, os.path.basename(path)
        self.kind = os.path.splitext(path)[1].lower()
        self.err = lambda msg: errors.append(f"{self.name}: {msg}")
        self.raw = open(path, "rb").read()
        if b"\n" in self.raw.replace(b"\r\n", b"") or b"\r" in self.raw.replace(b"\r\n", b""):
            self.err("LF line endings: VB files need CRLF")
        try:
            text = self.raw.decode("ascii")
        except UnicodeDecodeError:
            self.err("not ASCII")
            text = self.raw.decode("latin-1")
        self.text = text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")
        self.module_name, self.controls, self.code = None, set(), []
        if self.kind in (".bas", ".cls", ".frm"):
            self.split_header()

    def split_header(self):
        lines = code_lines(self.text)
        depth, start = 0, 0
        for i, (n, s) in enumerate(lines):
            m = re.match(r'Attribute VB_Name = "(\w+)"', s)
            if m:
                self.module_name, start = m.group(1), i + 1
                while start < len(lines) and lines[start][1].startswith("Attribute VB_"):
                    start += 1
                break
            if re.match(r"Begin\s+\w+\.\w+\s+(\w+)", s):  # designer controls
                self.controls.add(s.split()[2].lower())
            if re.match(r"Begin(Property)?\b", s):
                depth += 1
            elif re.match(r"End(Property)?$", s):
                depth -= 1
        if self.module_name is None:
            self.err("no Attribute VB_Name line")
        if depth:
            self.err("unbalanced Begin/End in the form's designer section")
        self.code = lines[start:]
        if not any(s.lower() == "option explicit" for _, s in self.code):
            self.err("missing Option Explicit")

    def active(self, config):
        """The code lines that compile in config, or None after reporting bad #If nesting."""
        out, stack = [], []  # per #If: [this branch compiles, an earlier branch was taken]
        for n, s in self.code:
            low = s.lower()
            m = re.match(r"#(else)?if\s+(.*)\s+then$", low)
            outer = not stack or stack[-1][0]  # whether the code around a new #If compiles
            if (m and m.group(1)) or low in ("#else", "#end if"):
                if not stack:
                    self.err(f"line {n}: {s} without #If")
                    return None
                outer = len(stack) < 2 or stack[-2][0]
            if m and not m.group(1):
                taken = evaluate(m.group(2), config)
                stack.append([outer and taken, taken])
            elif m:
                taken = not stack[-1][1] and evaluate(m.group(2), config)
                stack[-1] = [outer and taken, stack[-1][1] or taken]
            elif low == "#else":
                stack[-1] = [outer and not stack[-1][1], True]
            elif low == "#end if":
                stack.pop()
            elif (not stack or stack[-1][0]) and s:
                out.append((n, s))
        if stack:
            self.err("#If without #End If")
            return None
        return out


def evaluate(expr, config):
    py = []
    for t in TOKEN.findall(expr):
        low = t.lower()
        py.append({"not": " not ", "and": " and ", "or": " or ", "=": "==", "<>": "!=", "true": "-1",
                   "false": "0"}.get(low, str(config.get(low, 0)) if re.match(r"[a-z_]", low) else t))
    return bool(eval("".join(py), {"__builtins__": {}}))


class Project:
    def __init__(self, files):
        self.files = files

    def check(self):
        for f in self.files:
            if f.kind == ".vbp":
                self.check_project(f)
        for label, config in CONFIGS.items():
            active = {f: f.active(config) for f in self.files if f.kind != ".vbp"}
            if None in active.values():
                return
            names = {f: self.declarations(f, lines, label) for f, lines in active.items()}
            public = {}
            for f in self.files:
                if f.kind == ".bas" and f in names:
                    public.update(names[f]["public"])
            for f, lines in active.items():
                visible = dict(public)
                visible.update(names[f]["own"])
                self.check_code(f, lines, visible, label)
        header = "".join(open(os.path.join(INCLUDE, h)).read() for h in LOADER_HEADERS)
        for f in self.files:
            if f.kind == ".bas":
                check_sentences(f, header)
                check_npcap_first(f)
                check_search_choice(f, header)

    def check_project(self, f):
        base = os.path.dirname(f.path)
        for n, line in enumerate(f.text.split("\r\n"), 1):
            m = re.match(r"(Form|Module|Class)=(?:(\w+);\s*)?(.+)$", line)
            if not m:
                continue
            path = os.path.normpath(os.path.join(base, m.group(3).strip().replace("\\", "/")))
            if not os.path.isfile(path):
                f.err(f"line {n}: {m.group(3)} not found")
                continue
            named = [g for g in self.files if os.path.abspath(g.path) == os.path.abspath(path)]
            if not named:
                f.err(f"line {n}: {m.group(3)} is not among the files checked")
            elif m.group(2) and named[0].module_name != m.group(2):
                f.err(f"line {n}: the module is named {named[0].module_name}, not {m.group(2)}")

    def declarations(self, f, lines, label):
        """Names declared in f: {'public': {name: arity or None}, 'own': {...}}."""
        public, own = {}, {c: None for c in f.controls}
        if f.module_name:
            public[f.module_name.lower()] = own[f.module_name.lower()] = None
        declared = {}
        in_type = False
        for n, s in lines:
            tokens = TOKEN.findall(s)
            low = [t.lower() for t in tokens]
            i = 1 if low and low[0] in MODIFIERS else 0
            private = i == 1 and low[0] == "private"
            rest = low[i:]
            if in_type:
                in_type = not (low[:2] in (["end", "type"], ["end", "enum"]))
                if in_type and rest:
                    own.setdefault(bare(tokens[i]), None)  # Enum members; Type members are harmless
                continue
            arity = None
            if rest[:1] == ["declare"]:
                m = re.match(r"(?i)(?:(Public|Private)\s+)?Declare\s+(PtrSafe\s+)?(Function|Sub)\s+(\w+)\s+"
                             r'Lib\s+"([^"]*)"\s+(?:Alias\s+"[^"]*"\s+)?\((.*)\)(?:\s+As\s+(\w+))?$', s)
                if not m:
                    f.err(f"line {n}: unrecognised Declare: {s}")
                    continue
                self.check_declare(f, n, m, label)
                name, arity = m.group(4), params(m.group(6))
                declared[name] = m.group(5)
            elif rest[:1] in (["sub"], ["function"]) or rest[:2] in (["property", "get"], ["property", "let"],
                                                                      ["property", "set"]):
                m = re.match(r"(?i).*?\b(?:Sub|Function|Get|Let|Set)\s+(\w+[$%&!#@]?)\s*\((.*)\)", s)
                if not m:
                    continue
                name, arity = m.group(1), params(m.group(2))
                for a in top_level_args(TOKEN.findall(m.group(2))):
                    names = [t for t in a if t.lower() not in ("byval", "byref", "optional", "paramarray")]
                    if names:
                        own.setdefault(bare(names[0]), None)
            elif rest[:1] in (["type"], ["enum"]):
                in_type = True
                name = tokens[i + 1]
            elif (rest[:1] == ["const"]) or (i == 1 and rest) or low[:1] in (["dim"], ["redim"]):
                skip = i + (1 if rest[:1] == ["const"] or low[:1] in (["dim"], ["redim"]) else 0)
                if low[skip:skip + 1] == ["preserve"]:
                    skip += 1
                shared = f.kind == ".bas" and low[0] in ("public", "global")
                for a in top_level_args(tokens[skip:]):
                    a = [t for t in a if t.lower() != "withevents"]
                    if a:
                        own.setdefault(bare(a[0]), None)
                        if shared:
                            public.setdefault(bare(a[0]), None)
                continue
            else:
                continue
            key = bare(name)
            if f.kind != ".bas" or private:
                own[key] = arity
            else:
                public[key] = own[key] = arity
        if f.kind == ".bas" and any(lib.lower() == "ondrix.dll" for lib in declared.values()):
            missing = set(EXPORTS) - {k for k, v in declared.items() if v.lower() == "ondrix.dll"}
            if missing:
                f.err(f"{label}: lacks the Declares of {', '.join(sorted(missing))}")
            self.check_types(f)
        return {"public": public, "own": own}

    def check_declare(self, f, n, m, label):
        where = f"line {n} {m.group(4)}"
        if label == "VB6" and m.group(2):
            f.err(f"{where}: PtrSafe where VB6 compiles (put it in the #If VBA7 branch)")
        if label != "VB6" and not m.group(2):
            f.err(f"{where}: a Declare without PtrSafe where VBA7 compiles")
        if m.group(5).lower() != "ondrix.dll":
            if (m.group(1) or "").lower() != "private":
                f.err(f"{where}: a system function must be declared Private")
            # A bare-name search reaches the current folder and PATH; the search path belongs to the host.
            if re.search(r'(?i)"(LoadLibrary[AW]?|SetDllDirectory[AW]?|SetDefaultDllDirectories)"', m.group(0)):
                f.err(f"{where}: loads DLLs by bare name or changes the DLL search path")
            return
        if m.group(4) not in EXPORTS:
            f.err(f"{where}: not an export of ONDRIX.dll")
            return
        want, returns_string = EXPORTS[m.group(4)]
        got = 0
        for arg in [a for a in m.group(6).split(",") if a.strip()]:
            a = re.fullmatch(r"\s*(ByVal|ByRef)\s+(\w+)(\(\))?\s+As\s+(\w+)\s*", arg)
            if not a:
                f.err(f"{where}: every argument needs ByVal or ByRef and a type: {arg!r}")
            elif a.group(1) == "ByVal" and (a.group(3) or a.group(4) not in ("Long", "String")):
                # ByVal String hands the DLL a zero-terminated ANSI copy.
                f.err(f"{where}: a ByVal argument must be a Long or a String: {arg!r}")
            got += 4
        if got != want:
            f.err(f"{where}: {got} bytes of arguments; the export takes {want}")
        if m.group(7) != ("String" if returns_string else "Long"):
            f.err(f"{where}: returns {m.group(7)}")

    def check_types(self, f):
        sizes = {"Byte": 1, "Integer": 2, "Long": 4, "Double": 8, "Date": 8}
        for name, want in TYPE_SIZES.items():
            m = re.search(rf"Public Type {name}\r\n(.*?)End Type", f.text, re.S)
            if not m:
                f.err(f"Type {name} missing")
                continue
            size, widest = 0, 1
            for line in m.group(1).split("\r\n"):
                line = line.split("'")[0].strip()
                t = re.fullmatch(r"(\w+)(?:\((\d+)\s+To\s+(\d+)\))?\s+As\s+(\w+)", line)
                if line and (not t or t.group(4) not in sizes):
                    f.err(f"Type {name}: can't size member {line!r}")
                if not line or not t or t.group(4) not in sizes:
                    continue
                width = sizes[t.group(4)]
                count = int(t.group(3)) - int(t.group(2)) + 1 if t.group(2) else 1
                size = (size + width - 1) // width * width + count * width  # members align to their size
                widest = max(widest, width)
            size = (size + widest - 1) // widest * widest
            if size != want:
                f.err(f"Type {name} is {size} bytes, not {want}")

    def check_code(self, f, lines, visible, label):
        stack, loops = [], []
        for n, s in lines:
            for piece in split_statements(s):
                self.check_calls(f, n, piece, visible)
                tokens = [t.lower() for t in TOKEN.findall(piece)]
                if label == "VB6":
                    for t in ("longptr", "ptrsafe", "longlong"):
                        if t in tokens:
                            f.err(f"line {n}: {t} where VB6 compiles (put it in an #If VBA7 branch)")
                self.track_blocks(f, n, tokens, stack)
                self.track_capture_loops(f, tokens, stack, loops)
        for n, kind in stack:
            f.err(f"line {n}: {kind.capitalize()} block not closed")

    def track_blocks(self, f, n, t, stack):
        def close(kind, what):
            if not stack or stack[-1][1] != kind:
                top = f"the {stack[-1][1].capitalize()} of line {stack[-1][0]}" if stack else "nothing"
                f.err(f"line {n}: {what} closes {top}")
            if stack:
                stack.pop()  # either way, so that one fault is reported once

        if not t or t[0] in ("exit", "declare") or (t[0] in MODIFIERS and t[1:2] == ["declare"]):
            return
        if t[0] in MODIFIERS and len(t) > 1 and t[1] in ("sub", "function", "property", "type", "enum"):
            t = t[1:]
        if t[0] == "if":
            if t[-1] == "then":
                stack.append((n, "if"))
        elif t[0] == "elseif" or t == ["else"]:
            if not stack or stack[-1][1] != "if":
                f.err(f"line {n}: {t[0].capitalize()} outside an If block")
        elif t[0] == "case":
            if not stack or stack[-1][1] != "select":
                f.err(f"line {n}: Case outside a Select block")
        elif t[0] == "end" and len(t) > 1 and t[1] in set(OPENERS.values()) | {"if"}:
            close(t[1], f"End {t[1].capitalize()}")
        elif t[0] == "next":
            for _ in range(max(1, len([x for x in t[1:] if x != ","]))):
                close("for", "Next")
        elif t[0] in CLOSERS:
            close(CLOSERS[t[0]], t[0].capitalize())
        elif t[0] in OPENERS:
            stack.append((n, OPENERS[t[0]]))

    @staticmethod
    def track_capture_loops(f, t, stack, loops):
        """A loop of capture calls needs an Exit (or a capture call in its own
        Do, While or Loop line): after a -1 the next call fails at once."""
        captures = bool(CAPTURE_CALLS & set(t))
        for loop in [x for x in loops if not any(x[0] is e for e in stack)]:
            loops.remove(loop)
            if loop[1] and not loop[2] and not captures:
                f.err(f"line {loop[0][0]}: a loop of capture calls with no Exit: end it on -1")
        for e in stack:
            if e[1] in ("do", "for", "while") and not any(x[0] is e for x in loops):
                loops.append([e, False, captures])
        for loop in loops:
            loop[1], loop[2] = loop[1] or captures, loop[2] or "exit" in t

    def check_calls(self, f, n, piece, visible):
        tokens = TOKEN.findall(piece)
        low = [t.lower() for t in tokens]
        if "declare" in low[:2] or (any(k in low[:3] for k in ("sub", "function", "property")) and "(" in low):
            return  # a Declare or a procedure's header: its names were collected
        starts = {0} | {i + 1 for i, t in enumerate(low) if t in ("then", "else", "call")}
        for i, t in enumerate(tokens):
            if not ONDRIX_NAME.match(bare(t)) or (i and tokens[i - 1] in (".", "!")):
                continue
            if bare(t) not in visible:
                f.err(f"line {n}: undeclared ONDRIX name {t}")
                continue
            if visible[bare(t)] is None:
                continue  # a constant, variable or Type
            after = tokens[i + 1:]
            # A single-line If's Else ends a statement call.
            depth, end = 0, len(after)
            for k, x in enumerate(after):
                depth += {"(": 1, ")": -1}.get(x, 0)
                if depth == 0 and x.lower() == "else":
                    end = k
                    break
            after = after[:end]
            inner = top_level_args(after[1:matching(after, 0)]) if after[:1] == ["("] else []
            if i and low[i - 1] == "call":
                args = inner
            elif i in starts:
                if after[:1] == ["="]:
                    continue  # the function's result being set
                args = top_level_args(after)
                if after[:1] == ["("] and matching(after, 0) == len(after) - 1 and len(inner) > 1:
                    f.err(f"line {n}: {t} (a, b) as a statement: drop the parentheses or use Call")
                    continue
            else:
                args = inner
            least, most = visible[bare(t)]
            if len(args) < least or (most is not None and len(args) > most):
                want = f"{least}" if least == most else f"{least} to {most}"
                f.err(f"line {n}: {t} takes {want} argument(s), given {len(args)}")


def check_sentences(f, header):
    """OxSentence's texts are ondrix_sentence_'s, number for number."""
    table = re.search(r"ondrix_sentence_\(int k\).*?\{(.*?)\};", header, re.S).group(1)
    want = [""]
    for m in re.finditer(r'L"((?:[^"\\]|\\.)*)"|,', table):
        want[-1] += re.sub(r"\\(.)", r"\1", m.group(1) or "")
        want += [""] if m.group(0) == "," else []
    consts = {m.group(1).lower(): int(m.group(2))
              for m in re.finditer(r"Const (\w+) As Long = (-?\d+)", f.text)}
    body = re.search(r"Function OxSentence\b(.*?)End Function", f.text, re.S)
    if not body:
        return
    got, case = {}, None
    for _, s in code_lines(body.group(1)):
        m = re.match(r"Case (\w+)$", s)
        case = consts.get(m.group(1).lower(), m.group(1)) if m else case
        if s.startswith("OxSentence ="):
            got[case] = "".join(t.replace('""', '"') for t in LITERAL.findall(s))
    for k, text in enumerate(w for w in want if w):
        if got.get(k) != text:
            f.err(f"OxSentence({k}) is {got.get(k)!r}, ondrix.h says {text!r}")


def check_npcap_first(f):
    """The first path built for wpcap.dll, with the variable's last value put in, is in Npcap's folder."""
    values = {}
    for _, s in f.code:
        if re.match(r"(?i)((public|private) )?(function|sub) ", s):
            values = {}
        for piece in re.split(r"(?i)\bthen\b|\belse\b", s):
            m = re.search(r'(\w+) & "([^"]*wpcap\.dll)"', piece)
            if m:
                if "npcap" not in (values.get(m.group(1).lower(), m.group(1)) + m.group(2)).lower():
                    f.err("tries the system folder's wpcap.dll before Npcap's")
                return
            m = re.match(r"\s*(\w+) = (.+)$", piece)
            if m:
                values[m.group(1).lower()] = m.group(2)


def older_search(condition, older_if_true, c):
    """(older search where AddDllDirectory is missing, where it is present) for a C or VB condition; every
    name but the lookup counts as 0."""
    start = re.search(r"\w*GetProcAddress\s*\(", condition)
    if start:
        condition = condition[:start.start()] + "LOOKUP" + condition[matching(condition, start.end() - 1) + 1:]
    if c:
        condition = re.sub(r"!(?!=)\s*(\w+)", r"(not \1)", condition)
        condition = condition.replace("||", " or ").replace("&&", " and ")
    else:
        condition = re.sub(r"(?i)\b(not|and|or)\b", lambda w: w.group(0).lower(), condition)
        condition = condition.replace("=", "==").replace("<>", "!=")
    keep = ("not", "and", "or", "LOOKUP")
    condition = re.sub(r"[A-Za-z_]\w*", lambda w: w.group(0) if w.group(0) in keep else "0", condition)
    condition = " ".join(condition.split())
    return tuple(bool(eval(condition, {"__builtins__": {}}, {"LOOKUP": v})) == older_if_true for v in (0, 1))


def check_search_choice(f, header):
    """Where the module takes the older search, it does so where ondrix.h does."""
    if not re.search(r"(?m)^(?!.*\bConst\b).*\bLOAD_WITH_ALTERED_SEARCH_PATH\b", f.text):
        return
    m = re.search(r"if \(([^;{}]*AddDllDirectory[^;{}]*)\)\s*return (\w+)", header)
    want = older_search(m.group(1), m.group(2) == "LOAD_WITH_ALTERED_SEARCH_PATH", True)
    lines = [s for _, s in f.code if s]
    for s, then in zip(lines, lines[1:]):
        m = re.match(r"(?i)if (.*AddDllDirectory.*) then$", s)
        if m:
            if older_search(m.group(1), "LOAD_WITH_ALTERED_SEARCH_PATH" in then, False) != want:
                f.err("chooses the older search where ondrix.h does not")
            return
    f.err("chooses the older search without ondrix.h's test for AddDllDirectory")


def check(paths):
    errors = []
    files = [File(p, errors) for p in paths]
    Project(files).check()
    return list(dict.fromkeys(errors))


def expect_failures(folder, library):
    failed = 0
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        first = open(path, "rb").readline().decode("ascii", "replace")
        m = re.match(r"'\s*expect:\s*(.+?)\s*$", first)
        if not m:
            print(f"FAIL: {name}: first line must be ' expect: <reason>")
            failed += 1
            continue
        if name.endswith(".lf"):
            # Kept with CRLF like every VB file here; checked as an LF copy.
            tmp = tempfile.mkdtemp()
            path = os.path.join(tmp, name[:-3])
            with open(path, "wb") as f:
                f.write(open(os.path.join(folder, name), "rb").read().replace(b"\r\n", b"\n"))
            errors = check([library, path])
            shutil.rmtree(tmp)
        else:
            errors = check([library, path])
        if not any(m.group(1) in e for e in errors):
            print(f"FAIL: {name}: expected a failure naming {m.group(1)!r}, got: {errors or 'none'}")
            failed += 1
        else:
            print(f"ok: {name}: {next(e for e in errors if m.group(1) in e)}")
    return 1 if failed else 0


def snippet_modules(doc, folder):
    """Writes each VB block of doc into folder as a module; returns their paths."""
    paths, block, start = [], None, 0
    stem = re.sub(r"\W", "_", os.path.basename(doc))
    for n, line in enumerate(open(doc, encoding="utf-8").read().split("\n"), 1):
        if block is None and re.match(r"```(vb|vba)\s*$", line.strip()):
            block, start = [], n
        elif block is not None and line.strip() == "```":
            name = f"{stem}_line{start}"
            head, tail = [f'Attribute VB_Name = "{name}"', "Option Explicit"], []
            if not any(re.match(r"(?i)((public|private)\s+)?(sub|function)\s", b.strip()) for b in block):
                head, tail = head + ["Sub Snippet()"], ["End Sub"]
            # Blank lines keep the block at its own line numbers.
            head += [""] * (start - len(head))
            paths.append(os.path.join(folder, name + ".bas"))
            with open(paths[-1], "w", encoding="ascii", newline="\r\n") as f:
                f.write("\n".join(head + block + tail) + "\n")
            block = None
        elif block is not None:
            block.append(line)
    return paths


def main(argv):
    if argv[:1] == ["--expect-failures"]:
        return expect_failures(argv[1], argv[2])
    if argv[:1] == ["--snippets"]:
        folder = tempfile.mkdtemp()
        argv = [argv[1]] + [p for doc in argv[2:] for p in snippet_modules(doc, folder)]
        errors = check(argv)
        shutil.rmtree(folder)
    else:
        errors = check(argv)
    for e in errors:
        print("FAIL:", e)
    print(f"{len(argv)} file(s) checked: {'ok' if not errors else 'errors'}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
