# mqsim_roundtrip: put/get round trips of 1 KB messages through the stand-in
# MQI library and daemon, on one and on four connections (build/bench/).
if(TARGET mqm AND TARGET mqsim)
  tv_add_bench(NAME mqsim_roundtrip LIBS mqm tv_platform DEPENDS mqsim)
endif()
