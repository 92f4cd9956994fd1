"""Compares what a shared library exports with what its installed headers
declare, both ways: every exported symbol is a function, static member,
vtable or type information the headers declare, and every function and
static member the headers declare (and do not define inline) is exported.

Usage: exported_symbols.py --library LIB --include-dir DIR --headers-of PREFIX
                           --compile-commands JSON [--skip HEADER ...]

The headers are DIR/PREFIX/*.h less the skipped ones (they belong to another
library). clang parses them with the flags a host's build gives its sources
(the compile command of the first file in JSON), and names each declaration
by its mangled name; nm lists the library's dynamic symbols and c++filt puts
both in the same demangled form, so that the variants of a constructor or
destructor meet as one name. An explicit visibility attribute on a member
(Q_OBJECT's hidden qt_static_metacall) takes the member out of the library's
API; on a free function it is the export mark. What the headers define
inline (functions, constexpr static members) need not be exported, but may
be: a build that does not inline them, the sanitizers' for one, emits them
into the library as weak symbols.
"""
import argparse
import json
import pathlib
import shlex
import shutil
import subprocess
import sys

TOOLS = (("clang++", "clang"), ("nm", "binutils"), ("c++filt", "binutils"))
for _tool, _package in TOOLS:
    if shutil.which(_tool) is None:
        sys.exit(f"exported_symbols.py: missing program {_tool} (Debian package {_package})")
# The imports and programs are checked above; --check-imports stops here.
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

FUNCTION_KINDS = {"FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl", "CXXConversionDecl"}
RECORD_KINDS = {"CXXRecordDecl"}
# Special symbols of a class, by the prefix of their mangled name.
CLASS_SYMBOLS = ("_ZTV", "_ZTI", "_ZTS")  # vtable, type information, its name
THUNK_PREFIXES = ("_ZThn", "_ZTv")


def host_flags(compile_commands):
    """The include, define and language flags of the host's first source."""
    entries = json.loads(pathlib.Path(compile_commands).read_text())
    if not entries:
        sys.exit("exported_symbols.py: no compile commands in " + compile_commands)
    words = entries[0].get("arguments") or shlex.split(entries[0]["command"])
    flags, i = [], 1
    while i < len(words):
        word = words[i]
        if word in ("-I", "-isystem", "-D", "-include"):
            flags += words[i : i + 2]
            i += 2
            continue
        if word.startswith(("-I", "-D", "-std=", "-isystem")):
            flags.append(word)
        i += 1
    return flags


def demangle(names):
    if not names:
        return []
    out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True, check=True)
    return out.stdout.splitlines()


def has_body(node):
    return any(child.get("kind") == "CompoundStmt" for child in node.get("inner", []))


def has_visibility_attr(node):
    return any(child.get("kind") == "VisibilityAttr" for child in node.get("inner", []))


def declared_api(nodes):
    """Mangled names of the functions and static members the headers declare
    for the library, those of the ones they define inline, and the qualified
    names of the classes they define."""
    functions, inline, classes = set(), set(), set()

    def walk(node, scope, in_record):
        kind = node.get("kind", "")
        name = node.get("name")
        if kind == "NamespaceDecl":
            for child in node.get("inner", []):
                walk(child, scope + [name or "(anonymous namespace)"], False)
            return
        if kind in RECORD_KINDS and name and not node.get("isImplicit"):
            if node.get("completeDefinition"):
                classes.add("::".join(scope + [name]))
            for child in node.get("inner", []):
                walk(child, scope + [name], True)
            return
        if kind == "FriendDecl":
            return  # friends defined here are inline (Q_ENUM's)
        if kind in FUNCTION_KINDS:
            if not node.get("mangledName") or node.get("explicitlyDeleted") or node.get("pure"):
                return
            if in_record and has_visibility_attr(node):
                return
            defined_here = (
                node.get("isImplicit")
                or node.get("inline")
                or node.get("constexpr")
                or node.get("explicitlyDefaulted")
                or has_body(node)
            )
            (inline if defined_here else functions).add(node["mangledName"])
            return
        if kind == "VarDecl" and in_record and node.get("storageClass") == "static":
            defined_here = node.get("constexpr") or node.get("inline") or node.get("init")
            (inline if defined_here else functions).add(node["mangledName"])
            return

    for node in nodes:
        walk(node, [], False)
    return functions, inline, classes


def parse_headers(headers, include_dir, flags, namespace):
    unit = "".join(f'#include "{h}"\n' for h in headers)
    command = ["clang++", "-x", "c++", "-fsyntax-only", *flags, "-I", include_dir, "-Xclang", "-ast-dump=json"]
    command += ["-Xclang", f"-ast-dump-filter={namespace}", "-"]
    result = subprocess.run(command, input=unit, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("exported_symbols.py: clang cannot parse the installed headers:\n" + result.stderr)
    # The filter prints one JSON value per declaration it matched.
    decoder, text, at, nodes = json.JSONDecoder(), result.stdout, 0, []
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at >= len(text):
            return nodes
        node, at = decoder.raw_decode(text, at)
        nodes.append(node)


def exported_symbols(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True, text=True, check=True)
    return sorted({line.split()[-1] for line in out.stdout.splitlines() if line.strip()})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--include-dir", required=True)
    parser.add_argument("--headers-of", required=True, help="the headers' folder and namespace, e.g. regaccess")
    parser.add_argument("--compile-commands", required=True)
    parser.add_argument("--skip", action="append", default=[])
    args = parser.parse_args()

    folder = pathlib.Path(args.include_dir) / args.headers_of
    headers = sorted(
        f"{args.headers_of}/{p.name}" for p in folder.glob("*.h") if f"{args.headers_of}/{p.name}" not in args.skip
    )
    if not headers:
        sys.exit(f"exported_symbols.py: no headers in {folder}")
    nodes = parse_headers(headers, args.include_dir, host_flags(args.compile_commands), args.headers_of)
    mangled, inline_mangled, classes = declared_api(nodes)
    declared = set(demangle(sorted(mangled)))
    defined_inline = set(demangle(sorted(inline_mangled)))

    exported = exported_symbols(args.library)
    exported_names = dict(zip(exported, demangle(exported)))
    undeclared, seen = [], set()
    for symbol, name in exported_names.items():
        if symbol.startswith(CLASS_SYMBOLS):
            owner = name.split(" for ", 1)[-1]
            if owner not in classes:
                undeclared.append(name)
        elif symbol.startswith(THUNK_PREFIXES):
            target = name.split(" to ", 1)[-1]
            if target not in declared and target not in defined_inline:
                undeclared.append(name)
        elif name in declared:
            seen.add(name)
        elif name not in defined_inline:
            undeclared.append(name)
    unexported = sorted(declared - seen)

    print(f"{len(headers)} headers declare {len(declared)} functions and static members of {len(classes)} classes; "
          f"{pathlib.Path(args.library).name} exports {len(exported)} symbols")
    for name in sorted(undeclared):
        print(f"exported but not declared by an installed header: {name}")
    for name in unexported:
        print(f"declared by an installed header but not exported: {name}")
    return 1 if undeclared or unexported else 0


if __name__ == "__main__":
    sys.exit(main())
