# The man page of ulxjm, made from the command's own help so the two never
# disagree:  cmake -DULXJM=<program> -DOUT=<file> -DVERSION=<n> -P man_page.cmake
execute_process(COMMAND ${ULXJM} --help-all OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ULXJM} --help-all failed (${rc})")
endif()
# roff: backslashes, and lines that start with a control character.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TIMESTAMP today "%Y-%m-%d" UTC)
file(WRITE ${OUT} ".TH ULXJM 1 \"${today}\" \"ulxjm ${VERSION}\" \"岚栩只读加密\"
.SH NAME
ulxjm \\- 岚栩只读加密的命令行程序：加密、查看、取出、解密、只读挂载文件夹
.SH SYNOPSIS
.B ulxjm
.I COMMAND
.RI [ OPTIONS ]
.SH DESCRIPTION
.nf
${help}
.fi
.SH PASSWORDS
需要密码的命令从终端读取密码（不回显），或用 \\fB--password-stdin\\fR 从标准输入的第一行读取。密码从不作为参数给出。
.SH EXIT STATUS
.TP
.B 0
全部完成
.TP
.B 1
操作做完了，但有对象失败（详见日志）
.TP
.B 2
用法错误、输入错误或密码错误：磁盘上没有任何改动
.SH FILES
.TP
.I $XDG_RUNTIME_DIR/ulxjm/easylog.txt
日志：失败的对象和原因（代码页 936）
.TP
.I $XDG_CONFIG_HOME/ulxjm/
设置
")
