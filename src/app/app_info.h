#pragma once

namespace ostrel {

inline constexpr char kAppTitle[] = "Ostrel名片管理软件";
inline constexpr char kAppVersion[] = "1.0";
// The publisher's home page: a reserved example domain, defined here only.
inline constexpr char kHomePageHost[] = "www.example.com";
inline constexpr char kHomePageUrl[] = "https://www.example.com/";
// The start page shown in the main window's web view, bundled with the program.
inline constexpr char kStartPageUrl[] = "qrc:/start/index.html";

} // namespace ostrel
