' The Windows server as a script host sees it: each filter class created by its ProgID, every
' method's result and type, names in any case, arguments coerced, SetPath's string passed by
' reference, and a full walk of the Outlook Express 4 sample store, whose location the filter reads
' from the registry. (Refusals, in process, and two objects in one server: kv_windows_tests.)
'
' Run by scripts/test-windows.sh with the server registered, the store root set and an answer file
' (KVFLTRS_ANSWERS) that answers the Outlook Express 4 folder dialog twice: the root item with
' "Skip Empty Folders" unchecked, then the root item with it checked. Wine's script host prints
' nothing on an uncaught error, so the last line, "vbscript: N passed, M failed", is the verdict.

Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(condition, what)
  If condition Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAILED: " & what
  End If
End Sub

Dim progIds, names, i
progIds = Array("KVFLTRS.EUDORAIMPORTMSG", "KVFLTRS.NETSCAPEIMPORTMSG", _
                "KVFLTRS.OE5IMPORTMSG", "KVFLTRS.OEIMPORTMSG")
names = Array("Qualcomm Eudora Pro or Light (through v4.13)", "Netscape Messenger 4.7", _
              "Microsoft Outlook Express 5", "Microsoft Outlook Express 4")

' Every method of every class, before the store is looked for.
Sub CheckClass(progId, name)
  Dim f, value, path
  Set f = CreateObject(progId)
  Check TypeName(f) = "Object", progId & ": created"
  value = f.GetName()
  Check TypeName(value) = "String" And value = name, progId & ": GetName is """ & value & """"
  value = f.GetType()
  Check TypeName(value) = "Integer" And value = 2, progId & ": GetType is Integer 2"
  value = f.IsEnableSetPath()
  Check TypeName(value) = "Boolean" And value = False, progId & ": IsEnableSetPath is False"
  value = f.GetItemStatus()
  Check TypeName(value) = "Long", progId & ": GetItemStatus is Long"
  value = f.GetItemExStatus()
  Check TypeName(value) = "Long", progId & ": GetItemExStatus is Long"
  For Each value In Array(6, 9, 12, 23)
    Check TypeName(f.GetSubItem(value)) = "String" And f.GetSubItem(value) = "", _
          progId & ": GetSubItem(" & value & ") is an empty string"
  Next
  f.SetParent 0
  path = "!!!NextFolder"
  f.SetPath path
  Check path = "!!!NextFolder", progId & ": SetPath leaves the caller's string"
  Check f.getname() = name And f.GETNAME = name And f.GetSubItem("6") = "" And _
        f.GetSubItem(6.0) = "", progId & ": names in any case, arguments coerced"
  Set f = Nothing
End Sub

For i = 0 To 3
  CheckClass progIds(i), names(i)
Next

' The filters without a store on this machine find nothing: their location dialog has no answer
' in the answer file and is cancelled.
Dim other, found
For i = 0 To 2
  Set other = CreateObject(progIds(i))
  other.SetParent 0
  found = other.IsSystemFound()
  Check TypeName(found) = "Boolean" And found = False, progIds(i) & ": IsSystemFound is False"
  Set other = Nothing
Next

' The Outlook Express 4 sample store, walked to the end. Each item: folder, kind, status words.
Dim fso, walk, items, item, file, messageFiles, deletedFiles
Set fso = CreateObject("Scripting.FileSystemObject")
Set walk = CreateObject("KVFLTRS.OEIMPORTMSG")
walk.SetParent 0
Dim systemFound
systemFound = walk.IsSystemFound()
Check TypeName(systemFound) = "Boolean" And systemFound, "OE4 sample store found from the registry"
items = ""
messageFiles = 0
deletedFiles = 0
Dim more, guard
more = walk.GoFirst()
Check TypeName(more) = "Boolean", "GoFirst is Boolean"
guard = 0
Do While more And guard < 100
  guard = guard + 1
  file = walk.GetSubItem(11)
  If file = "!!!Empty" Then
    item = "empty"
  ElseIf fso.FileExists(file) Then
    item = "file"
    If fso.GetFile(file).Size > 0 Then messageFiles = messageFiles + 1
    fso.DeleteFile file
    deletedFiles = deletedFiles + 1
  Else
    item = "missing " & file
  End If
  items = items & walk.GetSubItem(5) & "|" & item & "|" & walk.GetItemStatus() & "|" & _
          walk.GetItemExStatus() & vbLf
  Check walk.GetSubItem(1) = "" And walk.GetSubItem(600) = "", "OE4 supplies no header values"
  more = walk.GoNext()
Loop
Check TypeName(more) = "Boolean" And Not more, "GoNext ends the walk with False"

Dim expected
' Chr, not ChrW: Wine's VBScript has no ChrW. Both sides convert through the same code page.
expected = "Inbox|file|0|2" & vbLf & _
           "Inbox|file|0|6" & vbLf & _
           "Inbox|file|2|2" & vbLf & _
           "Inbox/Projects|file|0|6" & vbLf & _
           "Inbox/Projects/Archive 1998|file|0|2" & vbLf & _
           "Outbox|file|0|1" & vbLf & _
           "Sent Items|file|0|0" & vbLf & _
           "Deleted Items|empty|1|2" & vbLf & _
           "Drafts|file|0|1" & vbLf & _
           "Priv" & Chr(233) & "|file|0|6" & vbLf
Check items = expected, "OE4 walk:" & vbLf & items
Check messageFiles = 9 And deletedFiles = 9, "nine message files, each handed over and not empty"
Set walk = Nothing

' "!!!NextFolder" leaves the rest of the folder; the same word in other capitals does nothing.
Dim skip, folder
Set skip = CreateObject("KVFLTRS.OEIMPORTMSG")
skip.SetParent 0
Check skip.IsSystemFound(), "OE4 sample store found again"
Check skip.GoFirst() And skip.GetSubItem(5) = "Inbox", "second walk starts in Inbox"
fso.DeleteFile skip.GetSubItem(11)
Dim word
word = "!!!nextfolder"
skip.SetPath word
Check skip.GoNext() And skip.GetSubItem(5) = "Inbox", "other capitals do not leave the folder"
fso.DeleteFile skip.GetSubItem(11)
word = "!!!NextFolder"
skip.SetPath word
Check skip.GoNext(), "GoNext after !!!NextFolder"
folder = skip.GetSubItem(5)
Check folder = "Inbox/Projects", "!!!NextFolder moves on to the next folder, not " & folder
fso.DeleteFile skip.GetSubItem(11)
Set skip = Nothing

WScript.Echo "vbscript: " & passed & " passed, " & failed & " failed"
