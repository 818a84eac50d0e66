#pragma once

#include "common/Message.h"

// Texts of the command line's own: option checks, refused replacements, interruptions.
namespace tarnvel::cli::msg {

inline constexpr MessagePair kReplaceRefused{
    "", "The file already exists: %s\nGive --yes to replace it."};
// An output name taken by something that is not a regular file; refused even with --yes.
inline constexpr MessagePair kNotRegularOutput{"", "%s %s: it cannot be written to."};
inline constexpr MessagePair kIsFolder{"", "is a folder"};
inline constexpr MessagePair kIsNotRegular{"", "is not a regular file"};
inline constexpr MessagePair kInterrupted{
    "", "Interrupted: %s was closed with what was written until then."};
inline constexpr MessagePair kInterruptedNothingWritten{"", "Interrupted: nothing was written."};
inline constexpr MessagePair kUnknownCommand{"", "Unknown command \"%s\"."};
inline constexpr MessagePair kRunHelp{"", "Run with --help for more information."};
inline constexpr MessagePair kLogNotWritable{
    "", "TVDAT.LOG cannot be written in this folder: the SCSI command log is off."};
inline constexpr MessagePair kStagingFailed{"", "Unable to create a file beside %s (%s)."};
inline constexpr MessagePair kCommitFailed{
    "", "Unable to move %s over %s (%s); the new file is kept under its temporary name."};
inline constexpr MessagePair kLibraryDiagnostic{"", "ALSA library: %s"};
inline constexpr MessagePair kLibraryDiagnostics{"", "ALSA library: %s (and %u more messages)"};

// Option checks; the option's name goes before each.
inline constexpr MessagePair kMustBeWholeNumber{"", "must be a whole number"};
inline constexpr MessagePair kMustBeAtLeast{"", "must be at least %lld"};
inline constexpr MessagePair kMustBeAtMost{"", "must be at most %lld"};
inline constexpr MessagePair kMustBeFromTo{"", "must be from %lld to %lld"};
inline constexpr MessagePair kMustBePositive{"", "must be a number greater than 0"};
inline constexpr MessagePair kMustBeAbsTime{"", "must be HH:MM:SS:FF"};
inline constexpr MessagePair kMustBeTapeTime{
    "", "must be a time on tape: minutes and seconds 00-59, frames 00-33"};
inline constexpr MessagePair kMustBeOneOf{"", "must be %s"};

} // namespace tarnvel::cli::msg
