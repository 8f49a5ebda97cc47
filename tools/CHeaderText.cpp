#include "tools/CHeaderText.h"

#include <set>

namespace edog {
namespace {

// Names the header's readers already have: C keywords, and what <stdio.h>, <stdlib.h>,
// <stddef.h>, <string.h> and <stdint.h> declare or define (firmware sources include them
// before the generated header). An enum entry of such a name does not compile, or changes
// the meaning of the code after it.
const char* const kTakenNames[] = {
    // keywords (C11, and the C23 ones compilers already reserve)
    "auto", "break", "case", "char", "const", "continue", "default", "do", "double", "else",
    "enum", "extern", "float", "for", "goto", "if", "inline", "int", "long", "register",
    "restrict", "return", "short", "signed", "sizeof", "static", "struct", "switch", "typedef",
    "union", "unsigned", "void", "volatile", "while", "bool", "true", "false", "nullptr",
    "alignas", "alignof", "static_assert", "thread_local", "typeof", "asm",
    // <stdio.h>
    "FILE", "fpos_t", "size_t", "NULL", "EOF", "BUFSIZ", "FILENAME_MAX", "FOPEN_MAX",
    "L_tmpnam", "TMP_MAX", "SEEK_SET", "SEEK_CUR", "SEEK_END", "_IOFBF", "_IOLBF", "_IONBF",
    "stdin", "stdout", "stderr", "remove", "rename", "tmpfile", "tmpnam", "fclose", "fflush",
    "fopen", "freopen", "setbuf", "setvbuf", "fprintf", "fscanf", "printf", "scanf",
    "snprintf", "sprintf", "sscanf", "vfprintf", "vfscanf", "vprintf", "vscanf", "vsnprintf",
    "vsprintf", "vsscanf", "fgetc", "fgets", "fputc", "fputs", "getc", "getchar", "gets",
    "putc", "putchar", "puts", "ungetc", "fread", "fwrite", "fgetpos", "fseek", "fsetpos",
    "ftell", "rewind", "clearerr", "feof", "ferror", "perror", "fileno", "popen", "pclose",
    "getline", "getdelim", "dprintf", "fdopen", "fmemopen", "open_memstream", "ctermid",
    "flockfile", "funlockfile", "ftrylockfile", "getc_unlocked", "putc_unlocked",
    "getchar_unlocked", "putchar_unlocked", "fseeko", "ftello", "off_t", "ssize_t", "va_list",
    "P_tmpdir", "renameat",
    // <stdlib.h>
    "div_t", "ldiv_t", "lldiv_t", "wchar_t", "EXIT_FAILURE", "EXIT_SUCCESS", "RAND_MAX",
    "MB_CUR_MAX", "atof", "atoi", "atol", "atoll", "strtod", "strtof", "strtold", "strtol",
    "strtoll", "strtoul", "strtoull", "rand", "srand", "aligned_alloc", "calloc", "free",
    "malloc", "realloc", "abort", "atexit", "at_quick_exit", "exit", "_Exit", "getenv",
    "quick_exit", "system", "bsearch", "qsort", "abs", "labs", "llabs", "div", "ldiv",
    "lldiv", "mblen", "mbtowc", "wctomb", "mbstowcs", "wcstombs", "random", "srandom",
    "setenv", "unsetenv", "putenv", "mkstemp", "mkdtemp", "realpath", "alloca", "posix_memalign",
    "drand48", "erand48", "lrand48", "mrand48", "srand48", "rand_r", "clearenv", "mktemp",
    // <stddef.h>, <string.h>, <stdint.h>, <stdbool.h>
    "ptrdiff_t", "max_align_t", "offsetof", "memcpy", "memmove", "memset", "memcmp", "memchr",
    "strcpy", "strncpy", "strcat", "strncat", "strcmp", "strncmp", "strlen", "strchr",
    "strrchr", "strstr", "strtok", "strerror", "strdup", "strndup", "strspn", "strcspn",
    "strpbrk", "strcoll", "strxfrm", "int8_t", "int16_t", "int32_t", "int64_t", "uint8_t",
    "uint16_t", "uint32_t", "uint64_t", "intptr_t", "uintptr_t", "intmax_t", "uintmax_t",
    "INT8_MAX", "INT16_MAX", "INT32_MAX", "INT64_MAX", "UINT8_MAX", "UINT16_MAX",
    "UINT32_MAX", "UINT64_MAX", "INT8_MIN", "INT16_MIN", "INT32_MIN", "INT64_MIN",
    "SIZE_MAX", "__bool_true_false_are_defined",
    // the compiler's own
    "assert", "errno", "main", "unix", "linux", "i386",
};

bool IsTakenName(const std::string& id) {
  for (const char* name : kTakenNames)
    if (id == name) return true;
  // Reserved for the implementation, predefined macros among them (__FILE__, _Bool).
  return id.size() > 1 && id[0] == '_' && (id[1] == '_' || (id[1] >= 'A' && id[1] <= 'Z'));
}

bool IsIdentifierChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string CStringLiteralBody(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  char previous = 0;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '?' && previous == '?') {
      out += "\\?";
    } else if (c < 0x20 || c >= 0x7F) {
      // Always three digits, so a digit that follows cannot join the escape.
      out += '\\';
      out += static_cast<char>('0' + (c >> 6));
      out += static_cast<char>('0' + ((c >> 3) & 7));
      out += static_cast<char>('0' + (c & 7));
    } else {
      out += ch;
    }
    previous = ch;
  }
  return out;
}

std::string CIdentifier(const std::string& name) {
  std::string out;
  out.reserve(name.size() + 1);
  if (name.empty() || !IsIdentifierChar(static_cast<unsigned char>(name[0])) ||
      (name[0] >= '0' && name[0] <= '9'))
    out += 'N';
  for (char ch : name) out += IsIdentifierChar(static_cast<unsigned char>(ch)) ? ch : '_';
  if (IsTakenName(out)) out += '_';
  return out;
}

std::vector<std::string> UniqueCIdentifiers(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  out.reserve(names.size());
  std::set<std::string> wanted, used;
  for (const std::string& n : names) wanted.insert(CIdentifier(n));
  for (const std::string& n : names) {
    std::string id = CIdentifier(n);
    if (used.count(id)) {
      for (unsigned k = 2;; ++k) {
        const std::string candidate = id + "_" + std::to_string(k);
        if (!used.count(candidate) && !wanted.count(candidate)) {
          id = candidate;
          break;
        }
      }
    }
    used.insert(id);
    out.push_back(id);
  }
  return out;
}

}  // namespace edog
