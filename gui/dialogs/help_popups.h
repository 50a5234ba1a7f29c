// The pop-up texts of a help archive ("popups.txt": lines "<id>=<text>" in
// UTF-8, CR LF or LF). Free of FOX.
#pragma once

#include <cstdint>
#include <string>

// False when no line has that id; a line whose text is not UTF-8 gives no text.
bool helpPopupText(const std::string& bytes, std::uint32_t id, std::u16string& text);
