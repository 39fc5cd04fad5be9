Set serial = CreateObject("Morvane.VarnelCreator").CreateTester(CLng(0))  ' tester 0: "serial"
WScript.Echo "new " & serial.New(Array("loopback"))
WScript.Echo "open " & serial.ExecuteAction(CLng(0), Array(), Array())     ' actions: 0 open, 2 send, 3 waitfor
WScript.Echo "send " & serial.ExecuteAction(CLng(2), Array("hello world\r\n"), Array())
WScript.Echo "waitfor " & serial.ExecuteAction(CLng(3), Array(CLng(2), "'world'"), Array())
