#pragma once
// Marks what libvyrcom.so exports. The library is built with hidden visibility and a
// version script, so only declarations carrying this mark are part of its interface.
#define VYRCOM_API __attribute__((visibility("default")))
