// Native entry point (placeholder until the POSIX layer lands).
int main() { return 0; }
