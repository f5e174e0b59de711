"""The tovak-remote launcher: starts Tovak Remote, the antenna controller's Windows
program, under Wine.

The program runs in a Wine prefix of the user's own, made at the first start and kept,
so its settings file, its debug log and the port chosen stay from one start to the
next. Its COM ports lead to serial devices by name, or to a network serial server
through a bridge the launcher runs; every other port leads nowhere.

One module per job:
  cli        the command line: what each option does, starting the program
  places     where the user's files are, and the lock one start holds
  ports      the port mappings file, serial devices, network addresses
  prefix     Wine, the prefix and its registry files, the program's settings
  bridge     a network port: its pty, its connection and what a fault does to it
  framing    whole messages out of the server's stream; the server's own texts
  report     what the launcher tells the user: output, its log, desktop notes
  common     the command's name, its refusals and exit codes

Standard library only.
"""
