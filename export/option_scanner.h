// Command-line option scanner of dict_export: POSIX getopt with permutation of
// non-options, the "+" / "-" / ":" prefixes of the option string, "::" optional
// arguments, "W;" and the POSIXLY_CORRECT switch.
//
// It lives in its own namespace, apart from the platform's getopt and its
// variables of the same names, which it neither uses nor replaces. It
// allocates nothing and copies no text: optarg points into the argument
// strings, and permutation only reorders the pointers of argv.
#pragma once

namespace dictexport {

// Scanner state, kept from one call to the next.
extern int optind;   // element to examine next; while optpos != 0, the element being scanned
extern int optpos;   // next option character inside argv[optind]; 0: the next call starts a new element
extern char* optarg; // argument of the option returned, or the non-option returned as 1; else null
extern int optopt;   // option character examined by the last call that examined one
extern int opterr;   // while non-zero, messages go to standard error; only read by the scanner

// Index of the first of the non-options passed over to reach the element at
// optind, while that element is partly scanned; -1 otherwise. The call that
// finishes the element moves those non-options behind it.
extern int optskip;

// Scans one option of argv. Returns the option character (a byte above 127
// comes back negative), '?' for an undeclared option or a missing argument,
// ':' for a missing argument when the option string begins with ':', 1 for a
// non-option in the in-order ordering ("-" prefix), and -1 when no options
// are left. Between calls the caller reads the state and may set opterr; it
// does not move optind or optpos, which the scanner trusts.
int getopt(int argc, char** argv, const char* optstring);

// Puts the state back to its initial values, so that tests and the fuzz
// target can scan several vectors in one process. The tools never call it.
void resetScanner();

} // namespace dictexport
