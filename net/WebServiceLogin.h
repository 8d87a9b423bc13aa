#pragma once
// The web-service login (a download task of scheme "qnlogin", run by
// DownloadTask::DoQuillnetLogin): what it publishes besides the application
// globals' login time and latest build, and the encoding of its values.
#include "Vak/Bexlorn/String.h"

// The path of the login query.
constexpr const char* kLoginPath = "/quillnet/dezezez/remote_login.php";

// The reply's "cookie" of the last successful login; empty until one.
Vak::String GetSessionCookie();
// True after a login with a cookie, false after a refused one.
bool IsListDownloadAllowed();
// Tests start from a process that never logged in.
void ResetLoginState();

// `text` with every byte outside the unreserved characters of a URI
// (letters, digits, '-', '.', '_', '~') written as '%' and two upper-case
// hex digits, so any value fits one query field.
Vak::String PercentEncode(const char* text);
// The login's path and query for the values given.
Vak::String LoginQuery(const char* user, const char* password, int screenWidth, int betaPatch);
