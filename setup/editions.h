// The two setup programs differ only in these constants.
#pragma once

#include <string_view>

namespace desk::setup {

struct Edition {
  std::string_view name;         // the virtual directory and its application
  std::string_view second_line;  // of the success and exists messages
  std::string_view program;      // the program file's name
};

inline constexpr Edition kOfficeEdition{
    "tarvo", "你可以在浏览器中输入以下地址登陆使用TARVO网络办公软件", "vdirsetup"};
inline constexpr Edition kLawEdition{
    "tarvolawyer", "你可以在浏览器中输入以下地址登陆使用TARVO律师事务所管理系统", "vdirsetuplaw"};

}  // namespace desk::setup
