' Starts the updater whose path is the one argument, with no window, without
' waiting for it, and ends: the scheduled task's slot is never held by a
' long update run, and nothing shows on the desktop.
Option Explicit
If WScript.Arguments.Count <> 1 Then WScript.Quit 2
Dim shell
Set shell = CreateObject("WScript.Shell")
shell.Run """" & WScript.Arguments(0) & """", 0, False
