// Windows Installer's conditional statements, as MsiEvaluateCondition reads
// them: a tokenizer and a recursive-descent parser that evaluates while it
// parses.
//
// Grammar (keywords and operators ignore case; binary operators associate to
// the left; the logical ones bind, from tightest to loosest, NOT, AND, OR,
// XOR, EQV, IMP, as Microsoft's "Conditional Statement Syntax" lists them):
//   imp        := eqv { IMP eqv }      eqv := xor { EQV xor }
//   xor        := or { XOR or }        or  := and { OR and }
//   and        := factor { AND factor }
//   factor     := NOT factor | term
//   term       := "(" imp ")" | value [ comparison value ]
//   value      := integer | "literal" | property | %env | $component
//               | ?component | &feature | !feature
//   comparison := [~] ( = | <> | < | > | <= | >= | >< | << | >> )
// A parenthesised expression cannot be compared ("(1 AND 1) = 2" is an
// error), and "~" must touch its operator.
//
// Values: an integer literal; a quoted literal (no escapes); a symbol, that is
// a property, an environment variable, or an unknown feature or component,
// which all read as text (empty when unset); a known feature's or component's
// state, which is an integer.
//
// Comparisons follow Windows (checked against Wine's conformance tests):
// - two integers, or an integer and a symbol whose text is an integer
//   (optional "-" and digits only), compare as numbers; ><, << and >> are then
//   bitwise: any common bit, high 16-bit word equal, low 16-bit word equal;
// - two symbols compare as numbers when both are integers, else as text;
// - an integer against a quoted literal, or against a symbol that is not an
//   integer, is false for every operator except <>, which is true;
// - everything else compares as text, byte by byte; "~" folds ASCII case.
//   >< (contains), << (starts with) and >> (ends with) are false when the
//   left text is empty and true when only the right one is.
// A bare value is true when it is a non-zero integer or a non-empty text.
//
// Wine differs in two places, where Microsoft's documentation is followed:
// it evaluates OR, XOR, EQV and IMP at one level, and compares a property
// with a quoted literal as numbers when both read as integers.
// tests/wine/msi_differential_test.cpp lists both.
#pragma once

#include <string>

#include "host/msi_api.h"

namespace host {

class Session;

// MSICONDITION_NONE for a condition that is empty or blank, MSICONDITION_ERROR
// for one that does not parse. Symbols are read from the session; without
// one, properties, features and components are all unset.
MSICONDITION EvaluateCondition(const std::string& condition, const Session* session);

}  // namespace host
