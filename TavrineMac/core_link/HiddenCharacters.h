#pragma once

// Whether `character` would hide, reorder or garble what is shown around it: a C0 or C1 control, a line or paragraph
// separator, or a bidirectional embedding, override, isolate or mark (which can make "txt.exe" read as "exe.txt").
// Texts from outside (a phone's names, a program's) lose them before they are shown or used as names here.
bool isHiddenCharacter(char32_t character);
