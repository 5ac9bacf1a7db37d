// Entry point of vsltool.
int main() { return 0; }
