#pragma once
// Text placed in the page's HTML, in an element or in a quoted attribute. Any thread.

#include <span>
#include <string>
#include <string_view>
#include <utility>

// `text` with & < > " ' written as character references.
std::string HtmlEscaped(std::string_view text);

// A slot in a page template ("{{NAME}}") and the text that takes its place.
using PageSlot = std::pair<std::string_view, std::string>;
// `page` with each slot replaced by its text, in one pass, so a slot's text (a computer's name,
// a script) is never searched for slots. "{{" that starts no slot stays as it is.
std::string FillSlots(std::string_view page, std::span<const PageSlot> slots);
