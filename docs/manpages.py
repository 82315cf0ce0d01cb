#!/usr/bin/env python3
"""Makes the reference pages (man pages) from docs/reference.txt.

The synopsis of every function page is taken from the public header, and every name of
the export list must have exactly one page of its own, so that the header, the export
list and the pages cannot drift apart.  Every function page has every section a reader
looks for, names its function in its description and its example, and answers "None."
in RETURN VALUE exactly when the function returns void.  The status texts a page quotes
must occur in the library's sources.  With --check it only checks; otherwise it also
writes OUT/manN/NAME.N; the overview varnek(7) gets the index of every function page.

reference.txt: a page starts with "=== NAME[(SECTION)]" (section 3 when none is given; a
section-3 page is a function of the export list), then "brief: TEXT", then sections
"--- TITLE".  Inside a section: a blank line starts a new paragraph; "- text" is a
bullet; "@ term" starts a tagged paragraph (its text follows); lines indented by four
spaces are shown verbatim; `word` is bold, NAME(N) a reference.  Text that several pages
share is written once, as a fragment "::: NAME" (its lines run to the next "===" or
":::"), and a line "<< NAME" inside a section puts the fragment's lines there.
"""
import argparse
import os
import re
import sys

REQUIRED_3 = ["DESCRIPTION", "RETURN VALUE", "STATUS TEXTS", "EXAMPLE", "SEE ALSO"]


def fail(problems):
    for p in problems:
        print("reference pages: " + p, file=sys.stderr)
    sys.exit(1)


def read_exports(def_path):
    names, in_exports = [], False
    for line in open(def_path, encoding="utf-8"):
        line = line.strip()
        if line == "EXPORTS":
            in_exports = True
        elif in_exports and re.fullmatch(r"[A-Za-z_]\w*", line):
            names.append(line)
    return names


def read_prototypes(header_path, mark):
    """Every declaration starting with `mark`, as plain C with the macros taken out."""
    text = open(header_path, encoding="utf-8").read()
    protos = {}
    for m in re.finditer(r"^" + mark + r" (.*?;)", text, re.S | re.M):
        decl = " ".join(m.group(1).split())
        decl = re.sub(r"\s*\b(VKAPI|DRUMMEL_API)\b\s*", " ", decl).replace("* ", "*").strip()
        decl = decl.replace(" (", "(")
        name = re.search(r"(\w+)\(", decl).group(1)
        protos[name] = decl
    return protos


def read_pages(text):
    """The pages of the reference text, with their fragments put in; and the problems met."""
    pages, fragments, page, section, lines_of = [], {}, None, None, None
    for number, line in enumerate(text.splitlines(), 1):
        line = line.rstrip("\n")
        if line.startswith("==="):
            words = line[3:].split()
            m = re.fullmatch(r"([\w.-]+)(?:\((\d)\))?", words[0])
            page = {"name": m.group(1), "section": m.group(2) or "3", "names": [m.group(1)] + words[1:],
                    "brief": "", "sections": [], "line": number}
            pages.append(page)
            section, lines_of = None, None
        elif line.startswith("#"):
            continue
        elif line.startswith(":::"):
            page, section = None, None
            lines_of = fragments.setdefault(line[3:].strip(), {"lines": [], "line": number, "used": 0})["lines"]
        elif lines_of is not None:
            lines_of.append((number, line))
        elif page is None:
            continue
        elif line.startswith("brief:") and section is None:
            page["brief"] = line[6:].strip()
        elif line.startswith("--- "):
            section = (line[4:].strip(), [])
            page["sections"].append(section)
        elif section is not None:
            section[1].append((number, line))
    problems = []
    for page in pages:
        page["sections"] = [(title, expand(lines, fragments, problems)) for title, lines in page["sections"]]
    for name, fragment in fragments.items():
        if not fragment["used"]:
            problems.append("fragment %s (line %d) is used by no page" % (name, fragment["line"]))
    return pages, problems


def expand(lines, fragments, problems, depth=0):
    out = []
    for number, line in lines:
        if not line.startswith("<< "):
            out.append(line)
            continue
        fragment = fragments.get(line[3:].strip())
        if fragment is None or depth > 4:
            problems.append("line %d: no fragment %s" % (number, line[3:].strip()))
            continue
        fragment["used"] += 1
        body = fragment["lines"]
        while body and body[-1][1] == "":
            body = body[:-1]
        out += expand(body, fragments, problems, depth + 1)
    return out


def source_texts(dirs):
    blob = []
    for d in dirs:
        for root, _, files in os.walk(d):
            for f in files:
                if f.endswith((".cpp", ".h")):
                    blob.append(open(os.path.join(root, f), encoding="utf-8", errors="replace").read())
    return "\n".join(blob)


def check(pages, exports, protos, sources):
    problems = []
    documented = {}
    for page in pages:
        where = "page %s (line %d)" % (page["name"], page["line"])
        titles = [t for t, _ in page["sections"]]
        if not page["brief"]:
            problems.append(where + ": no brief")
        if len(page["names"]) > 1:
            problems.append(where + ": documents %s as well; every function has a page of its own"
                            % ", ".join(page["names"][1:]))
        if page["section"] == "3":
            problems += check_function_page(page, where, exports, protos)
            name = page["name"]
            if name in documented:
                problems.append("%s: documented twice (lines %d and %d)" % (name, documented[name], page["line"]))
            documented[name] = page["line"]
        for title, lines in page["sections"]:
            if not "".join(lines).strip():
                problems.append(where + ": section %s is empty" % title)
            text = "\n".join(lines)
            if title == "STATUS TEXTS":
                quoted = re.findall(r'"([^"]*)"', " ".join(l.strip() for l in lines))
            elif title == "DIAGNOSTICS":
                quoted = re.findall(r'^@ "(.*)"$', text, re.M)
            else:
                continue
            for q in quoted:
                if '"' + q + '"' not in sources:
                    problems.append(where + ': status text "%s" does not occur in the library' % q)
    for name in exports:
        if name not in documented:
            problems.append("%s: exported, but no reference page documents it" % name)
    known = {n for p in pages for n in p["names"]}
    for page in pages:
        for title, lines in page["sections"]:
            if title == "SEE ALSO":
                for ref in re.findall(r"([\w.-]+)\((\d)\)", " ".join(lines)):
                    if ref[0] not in known and ref[0] not in EXTERNAL_PAGES:
                        problems.append("page %s: sees also %s(%s), which has no page" % (page["name"], *ref))
    return problems


def check_function_page(page, where, exports, protos):
    """A function page: an export with a prototype, every section, true to its own name."""
    name, problems = page["name"], []
    if name not in exports:
        problems.append(where + ": %s is not in the export list" % name)
    if name not in protos:
        problems.append(where + ": %s is not declared in the header" % name)
        return problems
    sections = dict(page["sections"])
    for title in REQUIRED_3:
        if title not in sections:
            problems.append(where + ": no %s section" % title)
    if problems:
        return problems
    if "`%s`" % name not in " ".join(sections["DESCRIPTION"]):
        problems.append(where + ": the DESCRIPTION does not name `%s`" % name)
    if not re.search(r"\b%s\(" % name, "\n".join(sections["EXAMPLE"])):
        problems.append(where + ": the EXAMPLE does not call %s" % name)
    see_also = " ".join(sections["SEE ALSO"])
    if "%s(3)" % name in see_also or not re.search(r"\w\(\d\)", see_also):
        problems.append(where + ": SEE ALSO must name other pages, not this one")
    returns_void = re.match(r"void \w+\(", protos[name]) is not None
    says_none = " ".join(sections["RETURN VALUE"]).strip().startswith("None.")
    if returns_void != says_none:
        problems.append(where + ": RETURN VALUE must say \"None.\" exactly when %s returns void" % name)
    return problems


EXTERNAL_PAGES = {"pkg-config", "socat", "termios", "dlopen", "ld.so", "pthreads", "man", "cmake"}


def esc(text):
    text = text.replace("\\", "\\e")
    return text


def inline(text):
    text = esc(text)
    text = re.sub(r"`([^`]+)`", lambda m: "\\fB" + m.group(1).replace("-", "\\-") + "\\fR", text)
    text = re.sub(r"\b([A-Za-z_][\w.-]*)\((\d)\)", r"\\fB\1\\fR(\2)", text)
    text = re.sub(r"\*([A-Za-z_]\w*)\*", r"\\fI\1\\fR", text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def render_section(title, lines):
    out = [".SH " + title]
    verbatim = False
    for line in lines + [""]:
        if line.startswith("    "):
            if not verbatim:
                out += [".PP", ".RS 4", ".nf"]
                verbatim = True
            out.append("\\&" + esc(line[4:]).replace("-", "\\-"))
            continue
        if verbatim:
            out += [".fi", ".RE"]
            verbatim = False
        if line == "":
            if out[-1] not in (".PP",) and not out[-1].startswith(".SH"):
                out.append(".PP")
        elif line.startswith("- "):
            out += [".IP \\(bu 2", inline(line[2:])]
        elif line.startswith("@ "):
            out += [".TP", inline(line[2:])]
        else:
            out.append(inline(line.strip()))
    while out[-1] == ".PP":
        out.pop()
    return out


def function_index(pages):
    """The FUNCTIONS section of the overview page: every section-3 page and its brief."""
    lines = []
    for page in pages:
        if page["section"] == "3":
            lines += ["@ " + ", ".join("%s(3)" % n for n in page["names"]), page["brief"] + "."]
    return ("FUNCTIONS", lines)


def render(page, protos, version, date):
    name, section = page["name"], page["section"]
    out = ['.\\" Made by docs/manpages.py from docs/reference.txt; edit that file instead.',
           '.TH %s %s "%s" "Varnek %s" "Varnek Manual"' % (name.upper() if section != "3" else name, section,
                                                        date, version),
           ".nh", ".ad l", ".SH NAME", "%s \\- %s" % (", ".join(page["names"]), esc(page["brief"]))]
    if section == "3":
        out += [".SH SYNOPSIS", ".nf", ".B #include <varnek.h>", ".PP"]
        for n in page["names"]:
            out.append(".B " + esc(protos[n]))
        out += [".fi", ".PP", "Link with \\fI\\-lvarnek\\fR (\\fBpkg\\-config \\-\\-libs varnek\\fR).",
                ]
    for title, lines in page["sections"]:
        while lines and lines[-1] == "":
            lines = lines[:-1]
        while lines and lines[0] == "":
            lines = lines[1:]
        out += render_section(title, lines)
    return "\n".join(out) + "\n"


# Faults the check must catch, each made in a copy of the real reference text: a page
# renamed away from its export, a page documenting two functions, a status text with a
# changed letter, a page without STATUS TEXTS, a fragment that does not exist.
FAULTS = [
    (r"^=== (Session_Hold)$", r"=== \1X", "Session_Hold: exported, but no reference page"),
    (r"^=== (LINK_IsCd)$", r"=== \1 LINK_RxClr", "every function has a page of its own"),
    (r'^@ "Unexpected Frame"$', '@ "Unexpected frame"', 'status text "Unexpected frame" does not occur'),
    (r"^(=== Mem_Free\n(?:.*\n)*?)--- STATUS TEXTS\n<< none-shown\n", r"\1", "no STATUS TEXTS section"),
    (r"^<< turns$", "<< turn", "no fragment turn"),
]


def self_test(text, exports, protos, sources):
    """1 when every fault of FAULTS is caught, and the real text passes."""
    pages, problems = read_pages(text)
    if problems or check(pages, exports, protos, sources):
        print("reference pages self-test: the real reference text does not pass", file=sys.stderr)
        return 1
    missed = 0
    for pattern, replacement, expected in FAULTS:
        broken, n = re.subn(pattern, replacement, text, count=1, flags=re.M)
        pages, problems = read_pages(broken)
        problems += check(pages, exports, protos, sources)
        if n == 0 or not any(expected in p for p in problems):
            print("reference pages self-test: not caught: %s" % expected, file=sys.stderr)
            missed += 1
    print("reference pages self-test: %d faults, %d caught" % (len(FAULTS), len(FAULTS) - missed))
    return 1 if missed else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reference", required=True)
    ap.add_argument("--header", required=True)
    ap.add_argument("--def", dest="def_file", required=True)
    ap.add_argument("--sources", nargs="*", default=[])
    ap.add_argument("--out")
    ap.add_argument("--version", default="")
    ap.add_argument("--date", default="")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--self-test", action="store_true", help="show that the check catches known faults")
    args = ap.parse_args()

    exports = read_exports(args.def_file)
    protos = read_prototypes(args.header, "VK_EXPORT")
    text = open(args.reference, encoding="utf-8").read()
    sources = source_texts(args.sources)
    if args.self_test:
        sys.exit(self_test(text, exports, protos, sources))
    pages, problems = read_pages(text)
    problems += check(pages, exports, protos, sources)
    if problems:
        fail(problems)
    if args.check:
        print("reference pages: %d exports, each on a page of its own; %d pages in all" % (len(exports), len(pages)))
        return
    for page in pages:
        if page["name"] == "varnek" and page["section"] == "7":
            page["sections"].insert(len(page["sections"]) - 1, function_index(pages))
        folder = os.path.join(args.out, "man" + page["section"])
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "%s.%s" % (page["name"], page["section"])), "w", encoding="utf-8") as f:
            f.write(render(page, protos, args.version, args.date))


if __name__ == "__main__":
    main()
