target_sources(quarrin_link PRIVATE
  link/CommandFrames.cpp
  link/CoprocessorLink.cpp
  link/FrameCodec.cpp
  link/FrameQueue.cpp
  link/FrameTrace.cpp
  link/LinkThread.cpp
  link/McuParser.cpp
  link/MpegParser.cpp
  link/ParserSupport.cpp
  link/PassThrough.cpp
  link/PostBudget.cpp
  link/ReceiveChannel.cpp
  link/ReceiveStep.cpp
  link/SendChannel.cpp
  link/SerialPort.cpp
)
