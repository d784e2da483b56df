#include "option_scanner.h"

#include <cstdio>
#include <cstdlib>

namespace dictexport {

int optind = 1;
int optpos = 0;
char* optarg = nullptr;
int optopt = 0;
int opterr = 1;
int optskip = -1;

void resetScanner() {
    optind = 1;
    optpos = 0;
    optarg = nullptr;
    optopt = 0;
    opterr = 1;
    optskip = -1;
}

namespace {

// What happens at a non-option element.
enum class Ordering { Permute, Stop, InOrder };

struct Mode {
    Ordering ordering;
    bool colonMode;        // a missing argument gives ':' instead of '?'
    const char* declared;  // the option string behind its prefix
};

// Worked out on every call, so a change of POSIXLY_CORRECT between calls counts.
Mode readMode(const char* optstring) {
    if (std::getenv("POSIXLY_CORRECT") != nullptr)
        return {Ordering::Stop, false, optstring};
    const char first = optstring[0];
    const char second = first != '\0' ? optstring[1] : '\0';
    if ((first == ':' && second == '+') || (first == '+' && second == ':'))
        return {Ordering::Stop, true, optstring + 2};
    if ((first == ':' && second == '-') || (first == '-' && second == ':'))
        return {Ordering::InOrder, true, optstring + 2};
    if (first == ':')
        return {Ordering::Permute, true, optstring + 1};
    if (first == '+')
        return {Ordering::Stop, false, optstring + 1};
    if (first == '-')
        return {Ordering::InOrder, false, optstring + 1};
    return {Ordering::Permute, false, optstring};
}

bool isEndMarker(const char* element) {
    return element[0] == '-' && element[1] == '-' && element[2] == '\0';
}

// An option element or the end marker: what permutation looks for.
bool isDashElement(const char* element) {
    return element[0] == '-' && element[1] != '\0';
}

// First occurrence of the byte in the declared list, ':' and ';' included.
const char* findDeclared(const char* declared, char option) {
    for (const char* p = declared; *p != '\0'; ++p)
        if (*p == option)
            return p;
    return nullptr;
}

bool takesArgument(const char* declaration) {
    return declaration[1] == ':' || (declaration[0] == 'W' && declaration[1] == ';');
}

// Rotates the non-options argv[start..element-1] behind the consumed elements
// argv[element..optind-1], one at a time, the last first; optind ends on the
// first of them.
void moveSkipped(char** argv, int start, int element) {
    for (int i = element - 1; i >= start; --i) {
        char* nonOption = argv[i];
        for (int j = i; j < optind - 1; ++j)
            argv[j] = argv[j + 1];
        argv[optind - 1] = nonOption;
        --optind;
    }
}

// The element that stood at `element` is consumed and optind stands behind it
// (and behind its argument element): the non-options passed over to reach it
// now go behind it.
void finishElement(char** argv, int element) {
    if (optskip >= 0) {
        moveSkipped(argv, optskip, element);
        optskip = -1;
    }
}

// Step to the next character of the element, finishing it at its end.
void advanceCharacter(char** argv, int element) {
    ++optpos;
    if (argv[element][optpos] == '\0') {
        optpos = 0;
        ++optind;
        finishElement(argv, element);
    }
}

// An option with an argument: the rest of the element, or else the next
// element unless the argument is optional. Always finishes the element.
int takeArgument(int argc, char** argv, const char* declaration, int option,
                 const Mode& mode) {
    const int element = optind;
    char* rest = argv[element] + optpos + 1;
    if (*rest != '\0') {
        optarg = rest;
        optpos = 0;
        ++optind;
        finishElement(argv, element);
        return option;
    }
    if (declaration[2] == ':') {
        // Optional and left out: an optional argument never comes from the next element.
        advanceCharacter(argv, element);
        return option;
    }
    optpos = 0;
    ++optind;
    if (optind < argc) {
        optarg = argv[optind];
        ++optind;
        finishElement(argv, element);
        return option;
    }
    if (opterr != 0)
        std::fprintf(stderr, "%s: option requires an argument -- %c\n", argv[0], option);
    finishElement(argv, element);
    return mode.colonMode ? ':' : '?';
}

// Scans the character at optpos of the element at optind.
int scanCharacter(int argc, char** argv, const Mode& mode) {
    const int element = optind;
    const char byte = argv[element][optpos];
    const int option = static_cast<signed char>(byte);
    optopt = option;
    const char* declaration = findDeclared(mode.declared, byte);
    if (declaration == nullptr) {
        if (opterr != 0)
            std::fprintf(stderr, "%s: illegal option -- %c\n", argv[0], option);
        advanceCharacter(argv, element);
        return '?';
    }
    if (takesArgument(declaration))
        return takeArgument(argc, argv, declaration, option, mode);
    advanceCharacter(argv, element);
    return option;
}

// The element at optind is an option element or the end marker.
int enterDashElement(int argc, char** argv, const Mode& mode) {
    if (isEndMarker(argv[optind])) {
        ++optind;
        finishElement(argv, optind - 1);
        return -1;
    }
    optpos = 1;
    return scanCharacter(argc, argv, mode);
}

// The element at optind is a non-option: pass over it and the non-options
// behind it to the next option element or end marker, and remember where
// they began so that they can be moved behind what gets consumed.
int permute(int argc, char** argv, const Mode& mode) {
    const int start = optind;
    int found = start + 1;
    while (found < argc && !isDashElement(argv[found]))
        ++found;
    if (found >= argc)
        return -1;
    optskip = start;
    optind = found;
    return enterDashElement(argc, argv, mode);
}

int startElement(int argc, char** argv, const Mode& mode) {
    if (optind >= argc) {
        optind = argc;
        return -1;
    }
    char* element = argv[optind];
    if (isDashElement(element))
        return enterDashElement(argc, argv, mode);
    switch (mode.ordering) {
    case Ordering::Stop:
        return -1;
    case Ordering::InOrder:
        optarg = element;
        ++optind;
        return 1;
    case Ordering::Permute:
        break;
    }
    return permute(argc, argv, mode);
}

} // namespace

int getopt(int argc, char** argv, const char* optstring) {
    const Mode mode = readMode(optstring);
    optarg = nullptr;
    if (optpos != 0)
        return scanCharacter(argc, argv, mode);
    return startElement(argc, argv, mode);
}

} // namespace dictexport
