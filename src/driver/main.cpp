// Placeholder entry point until the stages are wired in.
int main() { return 1; }
