#pragma once
// Lays out a compact response document the way devices that indent their answers do: one
// element a line, nested elements indented, an element holding only text kept on its line, and
// in mixed content the text on a line of its own before the child elements.

#include <string>
#include <string_view>

namespace talbo::tesk::vorta::devsim {

// compact: a document as CResponseWriter writes it (optional XML declaration, then elements
// and text without layout white space; '<' and '>' never appear inside texts or attribute
// values). Returns it indented with CR LF line ends, or unchanged when it does not nest
// properly (damaged answers stay exactly as damaged as their fault made them).
std::string IndentXml(std::string_view compact);

}  // namespace talbo::tesk::vorta::devsim
