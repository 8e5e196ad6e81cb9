// What the command-line tools share: Ctrl+C that ends a run keeping what
// arrived, a connection opened and identified, and text fit for a terminal.
#pragma once

#include <QString>

#include <atomic>

class MXXDevice;

namespace instrument_cli {

// Set by Ctrl+C (SIGINT) or SIGTERM; a second signal ends the program.
extern std::atomic<bool> interrupted;
void catchInterrupts();

// Control characters from the command line or the instrument as escapes.
QString printable(const QString& text);
void say(const QString& text); // a line on standard error

// What was wrong with the arguments, then the usage; the exit status 1.
int usageError(const char* program, const QString& error, const char* usage);

enum class Connection { Identified, CannotOpen, NoAnswer, Interrupted };
// Opens the connection and waits until the family is known: the family
// walk first, then MVD, which answers only its own query.
Connection connectInstrument(MXXDevice& device, const QString& connection);

// "M30", or a text naming an unknown type.
QString familyName(int type);

} // namespace instrument_cli
