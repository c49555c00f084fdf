// The C runtime of MinGW-w64 can expand wildcards in the arguments; the
// tool must see "*.txt" as typed, as a Windows console program does.
int _dowildcard = 0;
