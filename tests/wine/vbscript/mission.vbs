' The whole job from a script host: open a modem, ask who it is, send short
' and long messages, list and decode what arrived, delete one, close; and
' bad input answered with the right Err.Number.
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(name, ok)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL: " & name
  End If
End Sub

Sub ExpectError(name, number)
  Check name & " raises " & number & " (got " & Err.Number & ": " & Err.Description & ")", _
        Err.Number = number
  Err.Clear
End Sub

Dim tarvex, slot
Set tarvex = CreateObject("Tarvex4.Tarvex")
slot = 1

Check "DeviceOpen", tarvex.DeviceOpen(slot) = True
' Maker and model are the README example's to print.
Check "DeviceIMEI", tarvex.DeviceIMEI(slot) = "356938035643809"
Check "SetMessageStorageID", tarvex.SetMessageStorageID(slot, "SM") = "OK"
Check "GetMessageStorageID", tarvex.GetMessageStorageID(slot) = "SM"
Check "DeviceName", tarvex.DeviceName(slot) = "Mission modem"
' TimeOut left out: the default applies.
Check "SendCommand", InStr(tarvex.SendCommand(slot, "*100#"), "BALANCE: 12.50 EUR") = 1
Check "SendCommand with TimeOut", InStr(tarvex.SendCommand(slot, "*100#", 5000), "BALANCE") = 1

Dim text
text = String(200, "a")
Check "SendMessage", tarvex.SendMessage(slot, "+15550100", text) = "OK"
Check "SendMessage cuts the caller's text", Len(text) = 160
Dim longText
longText = String(400, "b")
Check "SendLongMessage", tarvex.SendLongMessage(slot, "+15550100", longText) = "OK"
Check "SendLongMessage leaves the text", Len(longText) = 400

' What the sent messages carry is the Linux tool's end-to-end tests' matter.
Dim messages, entry, message, count, greeting, demoParts, firstIndex
Set messages = tarvex.ReadMessage(slot, 0)
count = 0
demoParts = 0
firstIndex = -1
For Each entry In messages
  count = count + 1
  Set message = CreateObject("Tarvex4.SMSDeliver")
  message.Decode entry
  If firstIndex = -1 Then firstIndex = CLng(message.MessageID)
  If message.MultiPartSMS And message.MultiPartSMSRef = "00032A" Then demoParts = demoParts + 1
  ' The UCS2 demo message (German umlauts, Cyrillic, Chinese, a smiley; 29
  ' characters): each reaches the host as one character, none as "?".
  ' Wine's VBScript has no ChrW to spell them out.
  If message.PhoneNumber = "+4915112345678" Then
    greeting = Len(message.MessageText) = 29 And InStr(message.MessageText, " aus K") = 6 And _
               InStr(message.MessageText, "?") = 0 And Mid(message.MessageText, 24, 1) = "!"
  End If
Next
Check "ReadMessage Count", messages.Count = count
Check "ReadMessage lists the demo inbox and what was sent", count = 9
Check "Item is the default member", messages(1) = messages.Item(1)
Check "a long message's three parts", demoParts = 3
Check "UCS2 text decoded", greeting = True

Check "RemoveMessage", tarvex.RemoveMessage(slot, firstIndex) = "OK"
Dim old
Set old = tarvex.ReadMessage(slot, 1)
Check "the removed message is gone", old.Count = count - 1

' The numbers of the other errors are the C++ client's to check.
On Error Resume Next
Dim ignored
ignored = tarvex.SendCommand(slot, "*100#"",15" & vbCr & "AT+CMGD=1")
ExpectError "SendCommand with a quote and CR in it", 5
On Error GoTo 0

Check "DeviceOpen of a slot without settings", tarvex.DeviceOpen(2) = False
Check "DeviceClose", tarvex.DeviceClose(slot) = True
On Error Resume Next
ignored = tarvex.DeviceModel(slot)
ExpectError "DeviceModel on a closed port", 8012
On Error GoTo 0

WScript.Echo passed & " passed, " & failed & " failed"
