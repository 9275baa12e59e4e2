// What the system asks the operator to read or answer. Plain data, no widgets, so the
// link and the command-line tool describe their messages the same way the window does.
#pragma once

#include <string>

enum class MessageOwner { None, Window };
enum class MessageIcon { None, Error, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct Message {
    MessageOwner owner = MessageOwner::Window;
    std::string caption; // empty: the application's own name
    std::string text;    // UTF-8
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    // A question whose "Да" cannot be undone: Enter answers "Нет".
    bool defaultNo = false;
    bool operator==(const Message&) const = default;
};

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionOshibka = "Ошибка";
