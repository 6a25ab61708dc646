# Windows build: filled in with the Win32 backend.
