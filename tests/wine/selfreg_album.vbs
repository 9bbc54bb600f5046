' A page script's view of the registered component: creation by ProgID,
' both properties, getAlbumPage with each kind of selector, path arguments,
' names in other letter case, and an engine error.
' Arguments: album folder, its template, a second folder, a second template,
' a template the engine refuses.
' Each step is checked here: a failing statement would otherwise just be
' skipped. Prints PASS or the failures, and sets the exit code.
Option Explicit
On Error Resume Next

Dim failures, page
failures = 0

Sub Fail(name, text)
  WScript.Echo "FAIL " & name & ": " & text
  failures = failures + 1
End Sub

' Checks the last statement raised nothing and `page` holds `expected`.
Sub Expect(name, expected)
  If Err.Number <> 0 Then
    Fail name, "error 0x" & Hex(Err.Number) & " " & Err.Description
    Err.Clear
  ElseIf VarType(page) <> vbString Then
    Fail name, "result of type " & VarType(page)
  ElseIf page <> expected Then
    Fail name, "got [" & page & "], expected [" & expected & "]"
  End If
End Sub

Dim folder, templ, folder2, templ2, huge
folder = WScript.Arguments(0)
templ = WScript.Arguments(1)
folder2 = WScript.Arguments(2)
templ2 = WScript.Arguments(3)
huge = WScript.Arguments(4)

Dim m
Set m = CreateObject("Quorrel.AlbumMaker")
If Err.Number <> 0 Or Not IsObject(m) Then
  WScript.Echo "FAIL CreateObject: error 0x" & Hex(Err.Number) & " " & Err.Description
  WScript.Quit 1
End If

m.FolderPath = folder
m.PageTemplatePath = templ
page = "<unset>" : page = m.FolderPath : Expect "FolderPath", folder
page = "<unset>" : page = m.PageTemplatePath : Expect "PageTemplatePath", templ

page = "<unset>" : page = m.getAlbumPage(1, Null, Null) : Expect "index", "2:b.jpg"
page = "<unset>" : page = m.getAlbumPage(100000, Null, Null) : Expect "index out of range", "1:a.jpg"
page = "<unset>" : page = m.getAlbumPage("2", Null, Null) : Expect "numeric string", "3:c.gif"
page = "<unset>" : page = m.getAlbumPage("B.JPG", Null, Null) : Expect "file name", "2:b.jpg"
page = "<unset>" : page = m.getAlbumPage("c.gif", Null, Null) : Expect "file name exact", "3:c.gif"
page = "<unset>" : page = m.getAlbumPage(Empty, Null, Null) : Expect "Empty", "1:a.jpg"
page = "<unset>" : page = m.getAlbumPage(Null, Null, Null) : Expect "Null", "1:a.jpg"
Dim selector
selector = 2
page = "<unset>" : page = m.getAlbumPage(selector, Null, Null) : Expect "index in a variable", "3:c.gif"

' Path arguments that convert to text replace the paths; Null keeps them.
page = "<unset>" : page = m.getAlbumPage(0, folder2, templ2) : Expect "new paths", "T2 x.jpg/2"
page = "<unset>" : page = m.FolderPath : Expect "FolderPath changed", folder2
page = "<unset>" : page = m.PageTemplatePath : Expect "PageTemplatePath changed", templ2
page = "<unset>" : page = m.getAlbumPage(1, Null, Null) : Expect "paths kept", "T2 y.jpg/2"
Dim f, t
f = folder
t = templ
page = "<unset>" : page = m.getAlbumPage(1, f, t) : Expect "paths from variables", "2:b.jpg"
page = "<unset>" : page = m.getAlbumPage(0, folder2, Null) : Expect "folder only", "1:x.jpg"
m.FolderPath = folder

' Names resolve without regard to letter case.
page = "<unset>" : page = m.GETALBUMPAGE(2, Null, Null) : Expect "GETALBUMPAGE", "3:c.gif"
page = "<unset>" : page = m.folderpath : Expect "folderpath", folder
m.PAGETEMPLATEPATH = templ2
page = "<unset>" : page = m.pagetemplatepath : Expect "PAGETEMPLATEPATH", templ2
m.PageTemplatePath = templ

' The engine's error reaches the script with the object's source; its
' message may carry the system's error number after it.
Err.Clear
page = "<unset>"
page = m.getAlbumPage(0, Null, huge)
If Err.Number <> &H80020009 Then
  Fail "engine error number", "0x" & Hex(Err.Number)
ElseIf Err.Source <> "Quorrel.AlbumMaker.1" Then
  Fail "engine error source", "[" & Err.Source & "]"
ElseIf Left(Err.Description, 41) <> "No memory available to serve the request." Then
  Fail "engine error description", "[" & Err.Description & "]"
ElseIf page <> "<unset>" Then
  Fail "engine error result", "[" & page & "]"
End If
Err.Clear
' The object still serves pages afterwards.
page = "<unset>" : page = m.getAlbumPage(0, Null, templ) : Expect "after the error", "1:a.jpg"

Set m = Nothing
If failures = 0 Then
  WScript.Echo "PASS"
  WScript.Quit 0
End If
WScript.Echo "FAILED " & failures
WScript.Quit 1
