#include <vela/core/VString.h>

#include <cstdio>

int main() {
    vela::VString text("velacore ");
    text.AppendLong(15);
    std::printf("consumer: %d characters\n", int(text.GetLength()));
    return text.GetLength() == 11 ? 0 : 1;
}
