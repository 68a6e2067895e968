"""The mutants of the production code: where they can go, and the seeded choice of a set.
Used by scripts/mutate.py; the same seed and sources give the same set on any machine."""
import hashlib
import math
import os
import re
import subprocess

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SUFFIXES = (".cpp", ".cc", ".h", ".hpp")
# The platform service's declarations: the tool and the host service both compile them, so a
# change there changes both sides alike.
SKIPPED = ("platform/Kx", "platform/AudioCodecParameter.h")

class Rng:
    """splitmix64: the same numbers from the same seed on every machine and Python."""

    def __init__(self, seed):
        self.state = seed & (2**64 - 1)

    def below(self, n):
        mask = 2**64 - 1
        self.state = (self.state + 0x9E3779B97F4A7C15) & mask
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & mask
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & mask
        return (z ^ (z >> 31)) % n


def folder_seed(seed, folder):
    # Each folder draws from its own stream, so adding a folder leaves the others' picks alone.
    h = 0xCBF29CE484222325
    for b in folder.encode():
        h = ((h ^ b) * 0x100000001B3) & (2**64 - 1)
    return seed ^ h


def mask(text):
    """text with comments turned to spaces and literals' contents to \\x01, same length and lines,
    so that patterns only find code and columns still point into the original."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
        elif c == "R" and text.startswith('R"', i) and not (i and (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^()\\\s]{0,16})\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append('R"' + re.sub(r"[^\n]", "\x01", text[i + 2:j - 1]) + '"')
        elif c == "'" and i and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum() \
                and re.search(r"\b\d[\w']*$", text[max(0, i - 32):i]):
            j = i + 1  # a digit separator
            out.append(c)
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] not in (c, "\n"):
                j += 2 if text[j] == "\\" else 1
            j = min(j, n)
            out.append(c + "\x01" * (j - i - 1) + (c if j < n and text[j] == c else ""))
            j += 1 if j < n and text[j] == c else 0
        else:
            j = i + 1
            out.append(c)
        i = j
    return "".join(out)


NOT_STATEMENTS = {"return", "delete", "throw", "goto", "case", "default", "else", "if", "for", "while", "do",
                  "switch", "sizeof", "new", "static_assert", "using", "namespace", "typedef", "template"}
EXPR_STATEMENT = re.compile(r"(?:\+\+|--)?([A-Za-z_]\w*)(?:::\w+)*(?:(?:\.|->)[A-Za-z_]\w*|\[[^\]]*\])*\s*"
                            r"(\(|=(?!=)|[-+*/%&|^]=|<<=|>>=|\+\+|--)")
CALL = re.compile(r"[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\s*\(")
DECLARED_ARRAY = re.compile(r"[\w:>]+\s+[*&]?\w+\s*(?:\[[^\]]*\])*\[$")
# Arguments the callee ignores (kept for its callers' sake): changing them changes nothing.
IGNORED_ARGUMENTS = {"readBitField": 4, "readByteField": 4, "writeByteField": 5}
RELATIONAL = {"<": ("<=", ">"), "<=": ("<", ">="), ">": (">=", "<"), ">=": (">", "<=")}


def closing(code, open_at):
    """Index of the parenthesis closing the one at open_at on the same line, or -1."""
    depth = 0
    for k in range(open_at, len(code)):
        depth += {"(": 1, ")": -1}.get(code[k], 0)
        if depth == 0:
            return k
    return -1


def balanced(code):
    depth = 0
    for ch in code:
        depth += {"(": 1, ")": -1}.get(ch, 0)
        if depth < 0:
            return False
    return depth == 0


def ignored_spans(code):
    spans = []
    for m in re.finditer(r"\b(%s)\s*\(" % "|".join(IGNORED_ARGUMENTS), code):
        end = closing(code, m.end() - 1)
        depth, start, index = 0, m.end(), 0
        for k in range(m.end(), end if end > 0 else len(code)):
            depth += {"(": 1, ")": -1}.get(code[k], 0)
            if depth == 0 and code[k] == ",":
                if index == IGNORED_ARGUMENTS[m.group(1)]:
                    break
                start, index = k + 1, index + 1
        else:
            k = end if end > 0 else len(code)
        if index == IGNORED_ARGUMENTS[m.group(1)]:
            spans.append((start, k))
    return spans


def line_candidates(code, prev):
    """(kind, start, end) sites on one masked line; prev is the previous code line."""
    stripped = code.strip()
    if not stripped or stripped.startswith("#") or re.search(r"\b(static_assert|template|operator)\b", code):
        return []
    sites = []
    for m in re.finditer(r"(?<=\s)(<=|>=|<|>)(?=\s)", code):
        sites.append(("relational", m.start(), m.end()))
    for m in re.finditer(r"(?<=\s)(==|!=)(?=\s)", code):
        sites.append(("equality", m.start(), m.end()))
    for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
        sites.append(("logical", m.start(), m.end()))
    ignored = ignored_spans(code)
    for m in re.finditer(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)[uUlL]*(?![\w.'])", code):
        if any(a <= m.start() < b for a, b in ignored):
            continue
        if code[m.start() - 1:m.start()] == "[" and code[m.end():m.end() + 1] == "]" \
                and DECLARED_ARRAY.search(code[:m.start()]):
            continue  # an array's size
        sites.append(("constant", m.start(), m.end()))
    for m in re.finditer(r"\b(true|false)\b", code):
        sites.append(("constant", m.start(), m.end()))
    for m in re.finditer(r"\b(if|while)\s*(\()", code):
        end = closing(code, m.start(2))
        # Not around a declaration or an init-statement, which cannot be negated.
        if end > 0 and not re.match(r"\(\s*(auto\b|const\b|[\w:<>]+[\s*&]+\w+\s*=[^=])|[^;]*;", code[m.start(2):]):
            sites.append(("negation", m.start(2), end + 1))
    # A whole statement on its own line, in a place where a statement starts.
    first = len(code) - len(code.lstrip())
    starts = prev is None or re.search(r"([;{}:)]|\belse|\bdo)\s*$", prev)
    if starts and stripped.endswith(";") and balanced(stripped) and "{" not in stripped:
        m = EXPR_STATEMENT.match(stripped)
        if stripped in ("break;", "continue;") or (m and m.group(1) not in NOT_STATEMENTS):
            end = first + len(stripped)
            # lhs = call(...); keeps the call and drops its result.
            assign = re.match(r"[^=]*[^=!<>+\-*/%&|^]=(?!=)\s*", stripped)
            call = assign and CALL.match(stripped, assign.end())
            if call and closing(stripped, call.end() - 1) == len(stripped) - 2:
                sites.append(("result", first, end, first + assign.end()))
            else:
                sites.append(("statement", first, end))
    return sites


def file_candidates(path, text):
    masked = mask(text).split("\n")
    sites, prev, in_assert = [], None, False
    for number, code in enumerate(masked, 1):
        if re.search(r"\bstatic_assert\b", code):
            in_assert = True
        if not in_assert:
            sites += [(path, number) + s for s in line_candidates(code, prev)]
        if in_assert and ";" in code:
            in_assert = False
        if code.strip() and not code.strip().startswith("#"):
            prev = code
    return sites


def mutation(site, line, rng):
    """The replacement text of a site on its original line."""
    kind, start, end = site[2], site[3], site[4]
    old = line[start:end]
    if kind == "relational":
        narrow, swapped = RELATIONAL[old]
        return swapped if rng.below(3) == 0 else narrow
    if kind == "equality":
        return "!=" if old == "==" else "=="
    if kind == "logical":
        return "||" if old == "&&" else "&&"
    if kind == "constant":
        if old in ("true", "false"):
            return "false" if old == "true" else "true"
        digits = re.match(r"0[xX][0-9a-fA-F]+|\d+", old).group(0)
        value = int(digits, 0) if digits[:2].lower() == "0x" else int(digits, 10)
        value += 1 if value == 0 or rng.below(2) == 0 else -1
        if digits[:2].lower() == "0x":
            hexa = "%0*X" % (len(digits) - 2, value)
            text = digits[:2] + (hexa.lower() if digits[2:] != digits[2:].upper() else hexa)
        else:
            text = str(value)
        return text + old[len(digits):]
    if kind == "negation":
        return "(!" + old + ")"
    if kind == "result":
        return "(void)(" + line[site[5]:end - 1] + ");"
    return "{}"


def tracked_files():
    """git's files of the worktree (new ones not yet added too), sorted."""
    out = subprocess.run(["git", "-C", TOP, "ls-files", "-co", "--exclude-standard"], check=True,
                         capture_output=True, text=True).stdout.split("\n")
    return sorted(f for f in out if f and os.path.isfile(os.path.join(TOP, f)))


def production_files(folders):
    return [f for f in tracked_files()
            if f.endswith(SUFFIXES) and f.split("/")[0] in folders and not f.startswith(SKIPPED)]


def quotas(count, weights):
    """count spread over the folders: a few each, the rest by their share of the sites."""
    names = sorted(weights)
    each = min(3, count // len(names))
    share = {f: min(each, weights[f]) for f in names}
    rest, total = count - sum(share.values()), sum(weights.values())
    exact = {f: rest * weights[f] / total for f in names}
    for f in names:
        share[f] += int(exact[f])
    left = count - sum(share.values())
    for f in sorted(names, key=lambda f: (-(exact[f] - int(exact[f])), f))[:left]:
        share[f] += 1
    return {f: min(share[f], weights[f]) for f in names}


def select(count, seed, folders):
    lines, by_folder = {}, {f: [] for f in folders}
    for path in production_files(folders):
        with open(os.path.join(TOP, path), encoding="utf-8", errors="surrogateescape") as f:
            text = f.read()
        lines[path] = text.split("\n")
        by_folder[path.split("/")[0]] += file_candidates(path, text)
    chosen = []
    for folder, want in quotas(count, {f: len(s) for f, s in by_folder.items()}).items():
        rng = Rng(folder_seed(seed, folder))
        kinds = {}
        for s in by_folder[folder]:
            kinds.setdefault(s[2], []).append(s)
        used = set()
        while want > 0 and kinds:
            # Each kind by the square root of its count, so that rare kinds still come up.
            names = sorted(kinds)
            weights = [math.isqrt(len(kinds[k])) or 1 for k in names]
            pick = rng.below(sum(weights))
            k = 0
            while pick >= weights[k]:
                pick -= weights[k]
                k += 1
            pool = kinds[names[k]]
            site = pool.pop(rng.below(len(pool)))
            if not pool:
                del kinds[names[k]]
            if site[:2] in used:
                continue
            used.add(site[:2])
            line = lines[site[0]][site[1] - 1]
            chosen.append(dict(folder=folder, file=site[0], line=site[1], kind=site[2], start=site[3], end=site[4],
                               old=line[site[3]:site[4]], new=mutation(site, line, rng), code=line.strip()))
            want -= 1
    chosen.sort(key=lambda m: (m["folder"], m["file"], m["line"], m["start"]))
    for n, m in enumerate(chosen, 1):
        m["id"] = "M%02d" % n
        m["key"] = hashlib.sha1("\0".join([m["file"], m["code"], str(m["start"]), m["kind"], m["new"]])
                                .encode("utf-8", "surrogateescape")).hexdigest()[:10]
        line = lines[m["file"]][m["line"] - 1]
        m["mutated"] = (line[:m["start"]] + m["new"] + line[m["end"]:]).strip()
    return chosen, lines
